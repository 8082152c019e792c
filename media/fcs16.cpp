#include "media/fcs16.h"

#include <array>

namespace {

constexpr std::array<uint16_t, 256> makeSwappedTable() {
  std::array<uint16_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t v = i;
    for (int bit = 0; bit < 8; ++bit) v = (v & 1) ? (v >> 1) ^ 0x8408 : v >> 1;
    table[i] = static_cast<uint16_t>(((v & 0xFF) << 8) | (v >> 8));
  }
  return table;
}

constexpr std::array<uint16_t, 256> kSwappedTable = makeSwappedTable();
static_assert(kSwappedTable[1] == 0x8911 && kSwappedTable[2] == 0x1223 &&
              kSwappedTable[255] == 0x780F);

}  // namespace

uint32_t fcs16Update(uint32_t fcs, uint8_t byte) {
  return ((fcs << 8) ^ kSwappedTable[((fcs >> 8) ^ byte) & 0xFF]) & 0xFFFF;
}

void fcs16CheckBytes(const uint8_t* bytes, int32_t length, uint8_t out[2]) {
  uint32_t fcs = kFcs16Initial;
  for (int32_t i = 0; i < length; ++i) fcs = fcs16Update(fcs, bytes[i]);
  // The swapped register holds the usual value's low byte in its high byte.
  const uint32_t usual = ((fcs & 0xFF) << 8) | (fcs >> 8);
  const uint32_t check = ~usual & 0xFFFF;
  out[0] = static_cast<uint8_t>(check & 0xFF);
  out[1] = static_cast<uint8_t>(check >> 8);
}
