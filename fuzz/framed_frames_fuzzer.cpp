// Fuzzes the payload decoders through the media decoder: the input is cut
// into frames that are wrapped with correct check bytes and escaping, so
// mutated payloads always pass the frame checks and reach the decoder of
// their codec type (GSM, G.726 at every rate, G.729, G.722, G.711, silence).
//
// Input: a sequence of records [length][control][type selector][payload of
// `length` bytes]. Most selectors map onto the supported codec types so the
// decoders are hit often; the rest are taken as the type itself.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "media/framed_context.h"
#include "tests/framed_stream.h"

namespace {

constexpr uint8_t kTypes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 13, 17, 40};

struct Supply {
  const std::vector<uint8_t>* bytes;
  size_t at;
};

int32_t pull(void* userData, uint8_t* destination, int32_t length) {
  auto* supply = static_cast<Supply*>(userData);
  size_t n = supply->bytes->size() - supply->at;
  if (n > static_cast<size_t>(length)) n = static_cast<size_t>(length);
  for (size_t i = 0; i < n; ++i) destination[i] = (*supply->bytes)[supply->at + i];
  supply->at += n;
  return static_cast<int32_t>(n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> stream;
  size_t at = 0;
  while (at + 3 <= size) {
    const size_t length = static_cast<size_t>(data[at]) * 2;
    const uint8_t control = data[at + 1];
    const uint8_t selector = data[at + 2];
    at += 3;
    const size_t n = length < size - at ? length : size - at;
    const uint8_t type =
        selector < 240 ? kTypes[selector % sizeof kTypes] : selector;
    std::vector<uint8_t> payload(data + at, data + at + n);
    at += n;
    framed::appendFrame(stream, framed::typedFrame(control, type, payload), 7);
  }
  framed::finish(stream);
  Supply supply{&stream, 0};
  FramedContext* context =
      framedContextCreate(pull, &supply, InputMode::kFramedTyped);
  if (context == nullptr) return 0;
  uint8_t buffer[1024];
  int32_t count = 0;
  do {
    (void)framedContextRead(context, buffer, sizeof buffer, &count);
  } while (count > 0);
  framedContextDestroy(context);
  return 0;
}
