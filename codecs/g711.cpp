#include "codecs/g711.h"

uint8_t linearToAlaw(int32_t value) {
  // 64-bit so that the magnitude of INT32_MIN does not overflow.
  int64_t magnitude = value < 0 ? -static_cast<int64_t>(value) : value;
  if (magnitude > 4095) magnitude = 4095;
  const int m = static_cast<int>(magnitude);
  int segment = 0;
  int step;
  if (m < 32) {
    step = (m >> 1) & 0x0F;
  } else {
    segment = 1;  // 2^(segment+4) <= m < 2^(segment+5)
    while (m >> (segment + 5)) ++segment;
    step = (m >> segment) & 0x0F;
  }
  const int code = (segment << 4) | step;
  return static_cast<uint8_t>(value > 0 ? code ^ 0xD5 : code ^ 0x55);
}

void ulawToAlawInPlace(uint8_t* bytes, size_t length) {
  for (size_t i = 0; i < length; ++i) bytes[i] = kUlawToAlawTable[bytes[i]];
}
