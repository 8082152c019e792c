// G.711 byte mappings around the A-law audio currency.
//
// ulawToAlaw and alawToLinear are 256-entry tables built at compile time;
// linearToAlaw is computed. All are pure and thread-safe.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The A-law code of a zero sample; used wherever silence is inserted.
constexpr uint8_t kAlawSilence = 0x55;

namespace g711_detail {

// M(i) of the u-law to A-law rule, i = 127 - (u & 0x7F).
constexpr uint8_t ulawMagnitudeToAlaw(int i) {
  if (i < 16) return static_cast<uint8_t>(i / 2);
  if (i < 32) return static_cast<uint8_t>(i - 8);
  if (i < 36) return static_cast<uint8_t>(24 + 2 * (i - 32));
  if (i < 48) return static_cast<uint8_t>(i - 4);
  if (i == 48) return 45;
  if (i == 49) return 47;
  if (i < 64) return static_cast<uint8_t>(i - 2);
  if (i == 64) return 63;
  if (i < 81) return static_cast<uint8_t>(i - 1);
  return static_cast<uint8_t>(i);
}

constexpr std::array<uint8_t, 256> makeUlawToAlaw() {
  std::array<uint8_t, 256> table{};
  for (int u = 0; u < 256; ++u) {
    const int i = 127 - (u & 0x7F);
    const int base = u >= 0x80 ? 0xD5 : 0x55;
    table[u] = static_cast<uint8_t>(base ^ ulawMagnitudeToAlaw(i));
  }
  return table;
}

// Mid-interval 13-bit reconstruction value, scaled by 8 to 16 bits.
constexpr std::array<int16_t, 256> makeAlawToLinear() {
  std::array<int16_t, 256> table{};
  for (int a = 0; a < 256; ++a) {
    const int v = a ^ 0x55;
    const int s = (v >> 4) & 7;
    const int q = v & 0x0F;
    const int magnitude = s == 0   ? 16 * q + 8
                          : s == 1 ? 16 * q + 264
                                   : (16 * q + 264) << (s - 1);
    table[a] = static_cast<int16_t>((v & 0x80) ? magnitude : -magnitude);
  }
  return table;
}

}  // namespace g711_detail

inline constexpr std::array<uint8_t, 256> kUlawToAlawTable =
    g711_detail::makeUlawToAlaw();
inline constexpr std::array<int16_t, 256> kAlawToLinearTable =
    g711_detail::makeAlawToLinear();

// u-law byte to A-law byte (the G.711 code conversion).
inline uint8_t ulawToAlaw(uint8_t ulaw) { return kUlawToAlawTable[ulaw]; }

// A-law byte to a 16-bit linear sample.
inline int16_t alawToLinear(uint8_t alaw) { return kAlawToLinearTable[alaw]; }

// Signed value, taken as a 13-bit A-law input (magnitude limited to 4095),
// to an A-law byte. Zero and negative values use the negative sign, so 0
// gives 0x55; INT32_MIN is handled without overflow.
uint8_t linearToAlaw(int32_t value);

// Converts `length` u-law bytes to A-law in place.
void ulawToAlawInPlace(uint8_t* bytes, size_t length);
