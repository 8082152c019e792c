// The frame parser of the framed byte streams: cuts the raw bytes queued in
// an input ring into flag-delimited (0xFF), escaped (0xFE, next byte minus
// 2) frames and keeps those whose FCS-16 check bytes are good.
//
// Bad frames are reported to the input's reporter ("bad CRC 0x%04x", "short
// frame", "long frame", each as kFrameDropped) and dropped; the caller only
// ever sees good frames.
//
// Thread-safety: none; one reader thread per input.
#pragma once

#include <cstdint>

#include "media/byte_ring.h"
#include "support/reporter.h"

// The largest frame accepted, check bytes included, after unescaping.
constexpr int32_t kFrameMaxLength = 512;

enum FrameParserState : int32_t {
  kFrameHunt = 0,   // discarding bytes until a flag
  kFrameStart = 1,  // a flag was seen; a new frame begins with the next byte
  kFrameData = 2,   // inside a frame
  kFrameEscape = 3  // the previous byte was the escape byte
};

// The input ring with the parser state that belongs to it. A partial frame
// survives between calls, so bytes may arrive in any segmentation.
struct FrameInput {
  ByteRing ring;
  int32_t state = kFrameHunt;
  int32_t fcs = 0;  // the byte-swapped check register (fcs16.h)
  Reporter* reporter = nullptr;  // null: the console
};

struct FrameBuffer {
  uint8_t bytes[kFrameMaxLength];
  int32_t length = 0;
};

// Consumes bytes from input->ring until a frame with good check bytes is
// complete. Returns 1 with frame->length set to the frame's length without
// its two check bytes, or 0 when the ring ran empty first (the partial frame
// is kept for the next call). Frame bytes at positions below `skipCount`
// (1: the control byte of the framed mode is not covered; 0: all are) are
// stored but not checked. frame->bytes stays valid until the next call.
// REQUIRES: input->ring is initialised; skipCount is 0 or 1.
int32_t parseFrame(FrameInput* input, FrameBuffer* frame, int32_t skipCount);
