// Local time through the CRT's 64-bit conversion (_localtime64_s), which
// refuses negative times and years past 3000.
#include <time.h>

#include <cstring>

#include "support/console_report.h"
#include "support/text_format.h"
#include "support/time_stamp.h"

char* localTimeStampAt(int64_t seconds, char* buffer) {
  struct tm calendar;
  const __time64_t value = static_cast<__time64_t>(seconds);
  if (_localtime64_s(&calendar, &value) != 0) {
    consoleReport("localtime portable failed on time_t %lld\r\n",
                  static_cast<long long>(seconds));
    std::memset(&calendar, 0, sizeof calendar);
  }
  utf8Snprintf(buffer, kTimeStampBytes, "%02d%02d%02d-%02d%02d%02d",
               calendar.tm_year % 100, calendar.tm_mon + 1, calendar.tm_mday,
               calendar.tm_hour, calendar.tm_min, calendar.tm_sec);
  return buffer;
}

char* localTimeStamp(char* buffer) {
  return localTimeStampAt(static_cast<int64_t>(_time64(nullptr)), buffer);
}
