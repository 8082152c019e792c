#include "support/reporter.h"

#include <cstdarg>
#include <cstdio>

#include "support/console_report.h"

namespace {

class ConsoleReporter final : public Reporter {
 public:
  void report(ReportKind, const char* line) override {
    consoleReport("%Ds\r\n", line);
  }
};

}  // namespace

Reporter* consoleReporter() {
  static ConsoleReporter reporter;
  return &reporter;
}

void reportLine(Reporter* reporter, ReportKind kind, const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  const int length = std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (length < 0) return;
  (reporter != nullptr ? reporter : consoleReporter())->report(kind, line);
}
