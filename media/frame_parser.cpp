#include "media/frame_parser.h"

#include "media/fcs16.h"
#include "support/reporter.h"

namespace {

constexpr uint8_t kFlag = 0xFF;
constexpr uint8_t kEscape = 0xFE;

// The parser's working copy of its state, kept in locals while it walks a
// contiguous run of the ring and written back once.
struct Walk {
  int32_t state;
  uint32_t fcs;
  int32_t length;
};

// Stores one unescaped byte, or abandons a frame that is already at its
// limit.
inline void storeByte(Walk* walk, uint8_t* bytes, uint8_t byte,
                      int32_t skipCount, Reporter* reporter) {
  if (walk->length >= kFrameMaxLength) {
    reportLine(reporter, ReportKind::kFrameDropped, "long frame");
    walk->state = kFrameHunt;
    return;
  }
  bytes[walk->length] = byte;
  if (walk->length >= skipCount) walk->fcs = fcs16Update(walk->fcs, byte);
  ++walk->length;
  walk->state = kFrameData;
}

// Handles one byte; true when it completed a good frame.
inline bool step(Walk* walk, uint8_t* bytes, uint8_t byte, int32_t skipCount,
                 Reporter* reporter) {
  switch (walk->state) {
    case kFrameHunt:
      if (byte == kFlag) walk->state = kFrameStart;
      return false;
    case kFrameEscape:
      storeByte(walk, bytes, static_cast<uint8_t>(byte - 2), skipCount,
                reporter);
      return false;
    case kFrameStart:
      walk->length = 0;
      walk->fcs = kFcs16Initial;
      walk->state = kFrameData;
      break;
    default:
      break;
  }
  if (byte == kEscape) {
    walk->state = kFrameEscape;
    return false;
  }
  if (byte != kFlag) {
    storeByte(walk, bytes, byte, skipCount, reporter);
    return false;
  }
  walk->state = kFrameStart;
  if (walk->length >= 2) {
    const uint32_t fcs = walk->fcs & 0xFFFF;
    if (fcs == kFcs16GoodSwapped) {
      walk->length -= 2;
      return true;
    }
    reportLine(reporter, ReportKind::kFrameDropped, "bad CRC 0x%04x", fcs);
  } else if (walk->length == 1) {
    reportLine(reporter, ReportKind::kFrameDropped, "short frame");
  }
  return false;
}

}  // namespace

int32_t parseFrame(FrameInput* input, FrameBuffer* frame, int32_t skipCount) {
  ByteRing* ring = &input->ring;
  Walk walk{input->state, static_cast<uint32_t>(input->fcs), frame->length};
  bool complete = false;
  while (!complete) {
    const int32_t run = ringFillContiguous(ring);
    if (run == 0) break;
    uint8_t* p = ring->read;
    uint8_t* const runEnd = p + run;
    while (p < runEnd && !complete) {
      complete = step(&walk, frame->bytes, *p++, skipCount, input->reporter);
    }
    ring->read = p == ring->end ? ring->base : p;
  }
  input->state = walk.state;
  input->fcs = static_cast<int32_t>(walk.fcs);
  frame->length = walk.length;
  return complete ? 1 : 0;
}
