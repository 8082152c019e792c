// Console messages at the rate a garbage stream makes them: the frame
// parser's "bad CRC" line for every few bytes of an 8000 bytes/s stream,
// written to /dev/null and to a pipe that a thread drains. Reports how many
// seconds of stream are handled per second of wall time (must stay well
// above 1) for consoleReport, and the same for the earlier writer that
// looked the locale up, encoded and flushed stderr per message, run here as
// the reference; the ratio of the two is the figure of merit.
// Usage: console_report_bench [bytes-per-line] [lines]   (defaults 4, 200000)
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "support/console_output.h"
#include "support/console_report.h"
#include "support/text_format.h"

namespace {

constexpr double kStreamBytesPerSecond = 8000;
constexpr int kRounds = 3;
// The message of media/frame_parser.cpp for a frame whose check fails.
constexpr char kBadCrc[] = "bad CRC 0x%04x\r\n";

// The writer as it was: locale and converter looked up per message, then a
// block write and a flush of stderr.
int32_t referenceReport(const char* format, ...) {
  char16_t text[kConsoleReportUnits];
  va_list args;
  va_start(args, format);
  utf16Vsnprintf(text, kConsoleReportUnits, format, args);
  va_end(args);
  size_t length = 0;
  while (text[length] != 0) ++length;
  char charset[64];
  consoleCharset(charset, sizeof charset);
  static char bytes[kConsoleBytes];
  const size_t encoded =
      consoleEncode(charset, text, length, bytes, sizeof bytes);
  const size_t written = std::fwrite(bytes, 1, encoded, stderr);
  std::fflush(stderr);
  return static_cast<int32_t>(written);
}

// Points descriptor 2 at `target` for its lifetime.
class StderrTo {
 public:
  explicit StderrTo(int target) : saved_(dup(2)) { dup2(target, 2); }
  ~StderrTo() {
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
  }
  StderrTo(const StderrTo&) = delete;
  StderrTo& operator=(const StderrTo&) = delete;

 private:
  int saved_;
};

// Best of kRounds: seconds of wall time for `lines` messages.
template <typename Report>
double bestSeconds(int lines, Report report) {
  double best = 1e30;
  for (int round = 0; round < kRounds; ++round) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < lines; ++i) report(kBadCrc, (i * 40503) & 0xFFFF);
    const auto stop = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(stop - start).count();
    if (seconds < best) best = seconds;
  }
  return best;
}

void measure(const char* target, int descriptor, int lines,
             double streamSeconds) {
  double current;
  double reference;
  {
    const StderrTo redirect(descriptor);
    current = bestSeconds(lines, consoleReport);
    reference = bestSeconds(lines, referenceReport);
  }
  std::printf("%-10s %14.0fx %14.0fx %8.1f\n", target,
              streamSeconds / current, streamSeconds / reference,
              reference / current);
}

}  // namespace

int main(int argc, char** argv) {
  const int bytesPerLine = argc > 1 ? std::atoi(argv[1]) : 4;
  const int lines = argc > 2 ? std::atoi(argv[2]) : 200000;
  if (bytesPerLine <= 0 || lines <= 0) {
    std::fprintf(stderr, "usage: %s [bytes-per-line] [lines]\n", argv[0]);
    return 2;
  }
  const double streamSeconds = lines * bytesPerLine / kStreamBytesPerSecond;
  char charset[64];
  consoleCharset(charset, sizeof charset);
  std::printf(
      "\"bad CRC\" line every %d bytes of an 8000 bytes/s stream: %.0f "
      "lines per stream second, %d lines (%.0f s of stream), charset %s\n",
      bytesPerLine, kStreamBytesPerSecond / bytesPerLine, lines, streamSeconds,
      charset);
  std::printf("%-10s %15s %15s %8s\n", "to", "consoleReport", "reference",
              "ratio");

  const int devNull = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (devNull < 0) return 1;
  measure("/dev/null", devNull, lines, streamSeconds);
  close(devNull);

  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return 1;
  std::thread drain([reader = pipeEnds[0]] {
    char block[65536];
    while (read(reader, block, sizeof block) > 0) {
    }
  });
  measure("pipe", pipeEnds[1], lines, streamSeconds);
  close(pipeEnds[1]);
  drain.join();
  close(pipeEnds[0]);
  std::printf("(seconds of stream per second of wall time; ratio = reference "
              "time / consoleReport time)\n");
  return 0;
}
