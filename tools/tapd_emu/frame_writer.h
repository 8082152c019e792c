// Writes the framed byte stream of input modes 6 and 7: each frame is its
// header, its payload and its FCS-16 check bytes, escaped (0xFE and 0xFF
// become 0xFE 0x00 and 0xFE 0x01) and closed by the flag 0xFF. A stream
// opens with one flag, so every frame is complete as soon as it is sent.
//
// Thread-safety: pure functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tapd_emu {

constexpr uint8_t kFrameFlag = 0xFF;

// Largest payload a frame can carry: 512 unescaped bytes in all.
constexpr size_t kMaxFramePayload = 512 - 2 - 2;

// Appends one frame for `direction` (0 or 1) and `codecType`. Mode 7: a
// control byte (the direction) and a codec type byte, all bytes checked.
// Mode 6: one control byte holding the codec type (at most 63) in bits 2 to
// 7, which the check does not cover.
// REQUIRES: mode is 6 or 7; length <= kMaxFramePayload.
void appendFrame(std::vector<uint8_t>* stream, int mode, int direction,
                 uint8_t codecType, const uint8_t* payload, size_t length);

}  // namespace tapd_emu
