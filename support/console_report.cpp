#include "support/console_report.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "support/console_live_line.h"
#include "support/console_output.h"
#include "support/text_format.h"
#include "support/utf16_string.h"

namespace {

int32_t formatAndWrite(int32_t (*write)(const char16_t*, size_t),
                       const char* format, va_list args) {
  if (format == nullptr) return 0;
  char16_t text[kConsoleReportUnits];
  const int32_t formatted =
      utf16Vsnprintf(text, kConsoleReportUnits, format, args);
  // A negative result means the text was cut; it is still terminated, so
  // its own length is what gets printed.
  const size_t length =
      formatted >= 0 ? static_cast<size_t>(formatted) : utf16Len(text);
  return write(text, length);
}

}  // namespace

int32_t consoleReportV(const char* format, va_list args) {
  return formatAndWrite(consoleWriteMessage, format, args);
}

int32_t consoleReportOutput(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int32_t written =
      formatAndWrite(consoleWriteOutputText, format, args);
  va_end(args);
  return written;
}

int32_t consoleReport(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int32_t written = consoleReportV(format, args);
  va_end(args);
  return written;
}
