// The u-law pieces the emulator needs beside codecs/g711.h: 16-bit linear to
// u-law and back (ITU-T G.711).
//
// Thread-safety: pure functions.
#pragma once

#include <cstdint>

namespace tapd_emu {

// 16-bit linear sample to a u-law byte (magnitudes above 32635 clip).
uint8_t linearToUlaw(int32_t sample);

// u-law byte to a 16-bit linear sample.
int16_t ulawToLinear(uint8_t ulaw);

}  // namespace tapd_emu
