// Fuzzes the media decoder on raw stream bytes: frame assembly, check
// bytes, header decoding, every payload decoder and the mixer, in both
// framed modes. The pull callback hands the input out in segments whose
// sizes the input itself chooses, and the reads vary their capacity, so
// frames split at every possible place.
//
// Input: byte 0 chooses the mode (bit 0) and seeds the segment sizes; the
// rest is the stream.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "media/framed_context.h"

namespace {

struct Supply {
  const uint8_t* data;
  size_t size;
  size_t at;
  uint32_t seed;
};

uint32_t nextRandom(uint32_t* seed) {
  *seed = *seed * 1103515245u + 12345u;
  return *seed >> 16;
}

int32_t pull(void* userData, uint8_t* destination, int32_t length) {
  auto* supply = static_cast<Supply*>(userData);
  if (supply->at >= supply->size) return 0;
  // Mostly short segments, sometimes as much as fits.
  const uint32_t r = nextRandom(&supply->seed);
  size_t n = (r & 3) == 0 ? static_cast<size_t>(length) : 1 + (r >> 2) % 64;
  n = std::min({n, static_cast<size_t>(length), supply->size - supply->at});
  std::memcpy(destination, supply->data + supply->at, n);
  supply->at += n;
  return static_cast<int32_t>(n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  Supply supply{data + 1, size - 1, 0, data[0]};
  const InputMode mode =
      (data[0] & 1) ? InputMode::kFramedTyped : InputMode::kFramed;
  FramedContext* context = framedContextCreate(pull, &supply, mode);
  if (context == nullptr) return 0;
  uint8_t buffer[1024];
  for (;;) {
    const int32_t capacity =
        2 + static_cast<int32_t>(nextRandom(&supply.seed) % 1023);
    int32_t count = -2;
    const FramedResult result =
        framedContextRead(context, buffer, capacity, &count);
    // The supply never fails: every read delivers whole frames or the end.
    if (result == FramedResult::kPullFailed) __builtin_trap();
    if (count < 0 || count > capacity || (count & 1) != 0) __builtin_trap();
    if (count == 0) break;
  }
  framedContextDestroy(context);
  return 0;
}
