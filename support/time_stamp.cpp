#include "support/time_stamp.h"

#include <time.h>

#include <cstring>

#include "support/console_report.h"
#include "support/text_format.h"

char* localTimeStampAt(int64_t seconds, char* buffer) {
  struct tm calendar;
  if (!localCalendarOf(seconds, &calendar)) {
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
  return localTimeStampAt(static_cast<int64_t>(time(nullptr)), buffer);
}
