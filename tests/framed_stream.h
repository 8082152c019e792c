// Builds framed byte streams for tests and fuzz targets: each frame gets its
// FCS-16 check bytes, is escaped (0xFE and 0xFF become 0xFE 0x00 and
// 0xFE 0x01) and is preceded by a flag; a stream ends with a flag.
//
// Thread-safety: pure functions.
#pragma once

#include <cstdint>
#include <vector>

#include "media/fcs16.h"

namespace framed {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kFlag = 0xFF;

// Appends the flag and the escaped frame (`bytes` followed by its check
// bytes). In mode 6 the first byte is not covered by the check.
inline void appendFrame(Bytes& stream, const Bytes& bytes, int mode) {
  const int skip = mode == 6 && !bytes.empty() ? 1 : 0;
  uint8_t check[2];
  fcs16CheckBytes(bytes.data() + skip, static_cast<int32_t>(bytes.size()) - skip,
                  check);
  stream.push_back(kFlag);
  auto put = [&stream](uint8_t b) {
    if (b >= 0xFE) {
      stream.push_back(0xFE);
      stream.push_back(static_cast<uint8_t>(b + 2));
    } else {
      stream.push_back(b);
    }
  };
  for (uint8_t b : bytes) put(b);
  put(check[0]);
  put(check[1]);
}

// A mode-7 frame's bytes: control byte, codec type, payload.
inline Bytes typedFrame(uint8_t control, uint8_t codecType,
                        const Bytes& payload) {
  Bytes bytes;
  bytes.reserve(payload.size() + 2);
  bytes.push_back(control);
  bytes.push_back(codecType);
  // One by one: g++ 12 misreads a range insert here (-Warray-bounds).
  for (uint8_t b : payload) bytes.push_back(b);
  return bytes;
}

// A mode-6 frame's bytes: control byte (direction, erasure, codec type << 2)
// and payload.
inline Bytes controlFrame(uint8_t direction, uint8_t codecType,
                          const Bytes& payload, bool erasure = false) {
  Bytes bytes;
  bytes.reserve(payload.size() + 1);
  bytes.push_back(static_cast<uint8_t>(codecType << 2 | (erasure ? 2 : 0) |
                                       (direction & 1)));
  for (uint8_t b : payload) bytes.push_back(b);
  return bytes;
}

// Ends a stream: the flag that closes its last frame.
inline void finish(Bytes& stream) { stream.push_back(kFlag); }

}  // namespace framed

#include <algorithm>
#include <string>

#include "media/framed_context.h"

namespace framed {

// A pull callback's supply: `bytes` handed out in pieces of at most
// `segment` bytes, then `endResult` (0: end of input, or a failure code).
struct Feed {
  Bytes bytes;
  size_t at = 0;
  size_t segment = 1 << 20;
  int32_t endResult = 0;
};

inline int32_t pullFeed(void* userData, uint8_t* destination, int32_t length) {
  auto* feed = static_cast<Feed*>(userData);
  if (feed->at >= feed->bytes.size()) return feed->endResult;
  const size_t n = std::min({static_cast<size_t>(length), feed->segment,
                             feed->bytes.size() - feed->at});
  std::copy_n(feed->bytes.begin() + static_cast<std::ptrdiff_t>(feed->at), n,
              destination);
  feed->at += n;
  return static_cast<int32_t>(n);
}

// What a run of reads delivered: the bytes of each direction, the results
// of the reads that delivered audio, and the last read's result.
struct Output {
  Bytes channel[2];
  std::vector<FramedResult> results;
  FramedResult endResult = FramedResult::kOk;
  int32_t reads = 0;
};

// Reads with `capacity` until a read delivers nothing.
inline Output readAll(FramedContext* context, int32_t capacity = 1024) {
  Output output;
  std::vector<uint8_t> buffer(static_cast<size_t>(capacity));
  for (;;) {
    int32_t count = -1;
    const FramedResult result =
        framedContextRead(context, buffer.data(), capacity, &count);
    ++output.reads;
    if (count <= 0) {
      output.endResult = result;
      return output;
    }
    output.results.push_back(result);
    for (int32_t i = 0; i < count; ++i) {
      output.channel[i % 2].push_back(buffer[static_cast<size_t>(i)]);
    }
  }
}

}  // namespace framed
