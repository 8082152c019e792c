#include "tools/tapd_emu/ulaw.h"

namespace tapd_emu {
namespace {

constexpr int kBias = 0x84;
constexpr int kClip = 32635;

}  // namespace

uint8_t linearToUlaw(int32_t sample) {
  const int sign = sample < 0 ? 0x80 : 0;
  int64_t magnitude = sample < 0 ? -static_cast<int64_t>(sample) : sample;
  if (magnitude > kClip) magnitude = kClip;
  const int biased = static_cast<int>(magnitude) + kBias;
  int exponent = 7;
  for (int mask = 0x4000; (biased & mask) == 0 && exponent > 0; mask >>= 1) {
    --exponent;
  }
  const int mantissa = (biased >> (exponent + 3)) & 0x0F;
  return static_cast<uint8_t>(~(sign | exponent << 4 | mantissa));
}

int16_t ulawToLinear(uint8_t ulaw) {
  const int u = ~ulaw & 0xFF;
  const int exponent = (u >> 4) & 7;
  const int magnitude = (((u & 0x0F) << 3) + kBias) << exponent;
  return static_cast<int16_t>((u & 0x80) ? kBias - magnitude
                                         : magnitude - kBias);
}

}  // namespace tapd_emu
