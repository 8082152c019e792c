// Nanoseconds per call of typical console messages through both formatting
// engines, next to the C library's snprintf in the same run. The ratio
// engine/snprintf is the figure of merit (goal: at most 2).
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "support/text_format.h"

namespace {

constexpr int kCalls = 1000000;
constexpr int kRounds = 5;

volatile uint32_t gSink;  // keeps the results alive

// Best of kRounds, in nanoseconds per call.
template <typename Call>
double nanosecondsPerCall(Call call) {
  double best = 1e30;
  for (int round = 0; round < kRounds; ++round) {
    uint32_t checksum = 0;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kCalls; ++i) checksum += static_cast<uint32_t>(call(i));
    const auto stop = std::chrono::steady_clock::now();
    gSink = gSink + checksum;
    const double ns =
        std::chrono::duration<double, std::nano>(stop - start).count() / kCalls;
    if (ns < best) best = ns;
  }
  return best;
}

void report(const char* label, double reference, double narrow, double wide) {
  std::printf("%-22s %9.1f %13.1f %6.2f %13.1f %6.2f\n", label, reference,
              narrow, narrow / reference, wide, wide / reference);
}

}  // namespace

int main() {
  char text[256];
  char16_t wide[256];
  const char* reason = "connection refused";

  std::printf("%-22s %9s %13s %6s %13s %6s\n", "message (ns/call)", "snprintf",
              "utf8Snprintf", "ratio", "utf16Snprintf", "ratio");

  const char* crc = "bad CRC 0x%04x\r\n";
  report("bad CRC 0x%04x\\r\\n", nanosecondsPerCall([&](int i) {
           return std::snprintf(text, sizeof text, crc, i & 0xFFFF);
         }),
         nanosecondsPerCall([&](int i) {
           return utf8Snprintf(text, sizeof text, crc, i & 0xFFFF);
         }),
         nanosecondsPerCall(
             [&](int i) { return utf16Snprintf(wide, 256, crc, i & 0xFFFF); }));

  const char* error = "error %d: %s\r\n";
  report("error %d: %s\\r\\n", nanosecondsPerCall([&](int i) {
           return std::snprintf(text, sizeof text, error, i, reason);
         }),
         nanosecondsPerCall([&](int i) {
           return utf8Snprintf(text, sizeof text, error, i, reason);
         }),
         nanosecondsPerCall([&](int i) {
           return utf16Snprintf(wide, 256, error, i, reason);
         }));
  return 0;
}
