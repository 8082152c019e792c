// Test audio for the sound output: deterministic currency bytes and the
// 16-bit little-endian samples a device must be given for them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codecs/g711.h"
#include "tests/test_files.h"

namespace alaw_audio {

// Bytes that differ from buffer to buffer, so a buffer rewritten with later
// audio shows; `seed` picks another sequence.
inline test_files::Bytes currency(size_t length, uint32_t seed) {
  test_files::Bytes bytes(length);
  uint32_t x = seed;
  for (uint8_t& byte : bytes) {
    x = x * 1103515245u + 12345u;
    byte = static_cast<uint8_t>(x >> 16);
  }
  return bytes;
}

// The expansion of the first `length` bytes.
inline test_files::Bytes expansion(const test_files::Bytes& bytes,
                                   size_t length) {
  test_files::Bytes pcm;
  for (size_t i = 0; i < length; ++i) {
    const uint16_t sample = static_cast<uint16_t>(alawToLinear(bytes[i]));
    pcm.push_back(static_cast<uint8_t>(sample));
    pcm.push_back(static_cast<uint8_t>(sample >> 8));
  }
  return pcm;
}

}  // namespace alaw_audio
