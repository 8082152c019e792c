#include "app/status_text.h"

#include <cstdio>

#include "core/audio_endpoint.h"

namespace {

// Meter cells per direction.
constexpr int kMeterCells = 4;
// The peak magnitude that lights each further cell: -48, -36, -24 and
// -12 dB of full scale (32768).
constexpr uint32_t kCellThresholds[kMeterCells] = {131, 520, 2069, 8231};

int cellsOf(uint32_t peak) {
  int cells = 0;
  while (cells < kMeterCells && peak >= kCellThresholds[cells]) ++cells;
  return cells;
}

// "[ ===|==  ]": the first direction grows to the left of the bar, the
// second to the right.
std::string meterText(const uint32_t peaks[2]) {
  const int left = cellsOf(peaks[0]);
  const int right = cellsOf(peaks[1]);
  std::string text = "[";
  text.append(static_cast<size_t>(kMeterCells - left), ' ');
  text.append(static_cast<size_t>(left), '=');
  text += '|';
  text.append(static_cast<size_t>(right), '=');
  text.append(static_cast<size_t>(kMeterCells - right), ' ');
  return text + "]";
}

// "m:ss.t", from an hour on "h:mm:ss.t".
std::string elapsedText(uint64_t bytes) {
  const uint64_t tenths = bytes / (kCurrencyBytesPerSecond / 10);
  const uint64_t seconds = tenths / 10;
  char text[48];
  if (seconds < 3600) {
    std::snprintf(text, sizeof text, "%llu:%02llu.%llu",
                  static_cast<unsigned long long>(seconds / 60),
                  static_cast<unsigned long long>(seconds % 60),
                  static_cast<unsigned long long>(tenths % 10));
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu.%llu",
                  static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned long long>(seconds / 60 % 60),
                  static_cast<unsigned long long>(seconds % 60),
                  static_cast<unsigned long long>(tenths % 10));
  }
  return text;
}

// "512 B", "199.7 kB", "12.3 MB", "1.2 GB" (decimal units, cut, not
// rounded).
std::string byteCountText(uint64_t bytes) {
  char text[48];
  if (bytes < 1000) {
    std::snprintf(text, sizeof text, "%llu B",
                  static_cast<unsigned long long>(bytes));
    return text;
  }
  const char* const units[] = {"kB", "MB", "GB", "TB"};
  uint64_t scale = 1000;
  int unit = 0;
  while (unit < 3 && bytes / scale >= 1000) {
    scale *= 1000;
    ++unit;
  }
  std::snprintf(text, sizeof text, "%llu.%llu %s",
                static_cast<unsigned long long>(bytes / scale),
                static_cast<unsigned long long>(bytes % scale / (scale / 10)),
                units[unit]);
  return text;
}

}  // namespace

std::string audioSecondsText(uint64_t bytes) {
  const uint64_t millis = bytes / (kCurrencyBytesPerSecond / 1000);
  char text[32];
  std::snprintf(text, sizeof text, "%llu.%03llu",
                static_cast<unsigned long long>(millis / 1000),
                static_cast<unsigned long long>(millis % 1000));
  return text;
}

std::string speedText(uint64_t bytes, int64_t runMs) {
  if (runMs <= 0) return "";
  // Tenths of the multiple: audio milliseconds * 10 / run milliseconds.
  const uint64_t tenths = bytes / (kCurrencyBytesPerSecond / 1000) * 10 /
                          static_cast<uint64_t>(runMs);
  char text[32];
  if (tenths >= 100) {
    std::snprintf(text, sizeof text, "%llu",
                  static_cast<unsigned long long>(tenths / 10));
  } else {
    std::snprintf(text, sizeof text, "%llu.%llu",
                  static_cast<unsigned long long>(tenths / 10),
                  static_cast<unsigned long long>(tenths % 10));
  }
  return text;
}

std::string formatStatusLine(const StatusSample& sample) {
  std::string line;
  if (sample.total > 0) {
    const uint64_t taken =
        sample.taken < sample.total ? sample.taken : sample.total;
    line += std::to_string(taken * 100 / sample.total) + "%  ";
  }
  line += elapsedText(sample.bytes) + "  " + byteCountText(sample.bytes);
  if (sample.total > 0 && sample.runMs > 0) {
    line += "  " + speedText(sample.bytes, sample.runMs) + "x";
  }
  line += "  " + meterText(sample.peaks) + "  " +
          std::to_string(sample.framesDropped) + " dropped";
  if (sample.quietMs > 1000) {
    line += "  stalled " + std::to_string(sample.quietMs / 1000) + "s";
  }
  return line;
}
