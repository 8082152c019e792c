#include "app/run_meter.h"

#include <array>

#include "codecs/g711.h"

namespace {

constexpr std::array<uint16_t, 256> makeMagnitudes() {
  std::array<uint16_t, 256> table{};
  for (int a = 0; a < 256; ++a) {
    const int linear = kAlawToLinearTable[a];
    table[a] = static_cast<uint16_t>(linear < 0 ? -linear : linear);
  }
  return table;
}

constexpr std::array<uint16_t, 256> kMagnitudes = makeMagnitudes();

}  // namespace

void runMeterAdd(RunMeter* meter, const uint8_t* bytes, int32_t count) {
  if (count <= 0) return;
  const uint64_t before = meter->bytes.load(std::memory_order_relaxed);
  meter->bytes.store(before + static_cast<uint64_t>(count),
                     std::memory_order_relaxed);
  if (!meter->peaks) return;
  uint32_t peak[2] = {0, 0};
  const uint32_t first = static_cast<uint32_t>(before & 1);
  for (int32_t i = 0; i < count; ++i) {
    const uint32_t magnitude = kMagnitudes[bytes[i]];
    uint32_t& channel = peak[(first + static_cast<uint32_t>(i)) & 1];
    if (magnitude > channel) channel = magnitude;
  }
  for (int c = 0; c < 2; ++c) {
    if (peak[c] > meter->peak[c].load(std::memory_order_relaxed)) {
      meter->peak[c].store(peak[c], std::memory_order_relaxed);
    }
  }
}

void runMeterTakePeaks(RunMeter* meter, uint32_t peaks[2]) {
  for (int c = 0; c < 2; ++c) {
    peaks[c] = meter->peak[c].exchange(0, std::memory_order_relaxed);
  }
}
