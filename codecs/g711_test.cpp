#include "codecs/g711.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace {

struct ByteToByte {
  uint8_t in;
  uint8_t out;
};

TEST(G711Test, UlawToAlawCheckValues) {
  const ByteToByte cases[] = {{0xFF, 0xD5}, {0x7F, 0x55}, {0x80, 0xAA},
                              {0x00, 0x2A}, {0x10, 0x3A}, {0x2F, 0x1A},
                              {0x30, 0x1B}};
  for (const auto& c : cases) {
    EXPECT_EQ(ulawToAlaw(c.in), c.out) << "u-law 0x" << std::hex << int{c.in};
  }
}

TEST(G711Test, LinearToAlawCheckValues) {
  struct Case {
    int32_t in;
    uint8_t out;
  };
  const Case cases[] = {
      {0, 0x55},      {1, 0xD5},       {-1, 0x55},        {2, 0xD4},
      {-2, 0x54},     {31, 0xDA},      {32, 0xC5},        {-32, 0x45},
      {4095, 0xAA},   {4096, 0xAA},    {30000, 0xAA},     {INT32_MAX, 0xAA},
      {-4095, 0x2A},  {-4096, 0x2A},   {-32768, 0x2A},    {INT32_MIN, 0x2A},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(linearToAlaw(c.in), c.out) << "linear " << c.in;
  }
}

TEST(G711Test, AlawToLinearCheckValues) {
  struct Case {
    uint8_t in;
    int16_t out;
  };
  const Case cases[] = {{0xD5, 8},    {0x55, -8},      {0x80, 5504},
                        {0x00, -5504}, {0xAA, 32256}, {0x2A, -32256}};
  for (const auto& c : cases) {
    EXPECT_EQ(alawToLinear(c.in), c.out) << "A-law 0x" << std::hex << int{c.in};
  }
}

// Decoding, scaling back to 13 bits and encoding again must give every code
// back: the decoder and the encoder agree on every segment boundary.
TEST(G711Test, AlawRoundTripsThroughLinearForAllCodes) {
  for (int a = 0; a < 256; ++a) {
    const uint8_t code = static_cast<uint8_t>(a);
    EXPECT_EQ(linearToAlaw(alawToLinear(code) >> 3), code)
        << "A-law 0x" << std::hex << a;
  }
}

// Reference u-law decoder (G.711, 16-bit scale), independent of the tables.
int ulawToLinearReference(uint8_t ulaw) {
  const int u = ~ulaw & 0xFF;
  const int magnitude = ((((u & 0x0F) << 3) + 0x84) << ((u >> 4) & 7)) - 0x84;
  return (u & 0x80) ? -magnitude : magnitude;
}

// The code conversion keeps the sign, never reorders magnitudes, and lands
// close to the value the u-law code stands for; a wrong row of the
// conversion rule breaks one of the three.
TEST(G711Test, UlawToAlawKeepsSignOrderAndValue) {
  for (int sign = 0; sign < 2; ++sign) {
    int previousMagnitude = -1;
    for (int i = 0; i < 128; ++i) {  // smallest to largest magnitude
      const uint8_t ulaw = static_cast<uint8_t>((sign ? 0x80 : 0x00) | (127 - i));
      const int decoded = alawToLinear(ulawToAlaw(ulaw));
      const int reference = ulawToLinearReference(ulaw);
      SCOPED_TRACE(testing::Message() << "u-law 0x" << std::hex << int{ulaw});
      EXPECT_EQ(decoded > 0, sign == 1);
      EXPECT_GE(std::abs(decoded), previousMagnitude);
      previousMagnitude = std::abs(decoded);
      const int tolerance = std::max(16, std::abs(reference) / 32);
      EXPECT_LE(std::abs(decoded - reference), tolerance) << reference;
    }
  }
}

}  // namespace
