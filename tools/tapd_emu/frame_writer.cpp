#include "tools/tapd_emu/frame_writer.h"

#include "media/fcs16.h"

namespace tapd_emu {

void appendFrame(std::vector<uint8_t>* stream, int mode, int direction,
                 uint8_t codecType, const uint8_t* payload, size_t length) {
  uint8_t frame[512];
  size_t n = 0;
  if (mode == 6) {
    frame[n++] = static_cast<uint8_t>(codecType << 2 | (direction & 1));
  } else {
    frame[n++] = static_cast<uint8_t>(direction & 1);
    frame[n++] = codecType;
  }
  for (size_t i = 0; i < length; ++i) frame[n++] = payload[i];
  const int skip = mode == 6 ? 1 : 0;
  fcs16CheckBytes(frame + skip, static_cast<int32_t>(n) - skip, frame + n);
  n += 2;
  for (size_t i = 0; i < n; ++i) {
    if (frame[i] >= 0xFE) {
      stream->push_back(0xFE);
      stream->push_back(static_cast<uint8_t>(frame[i] + 2));
    } else {
      stream->push_back(frame[i]);
    }
  }
  stream->push_back(kFrameFlag);
}

}  // namespace tapd_emu
