#include <time.h>

#include "support/time_stamp.h"

bool localCalendarOf(int64_t seconds, struct tm* calendar) {
  const time_t value = static_cast<time_t>(seconds);
  return static_cast<int64_t>(value) == seconds &&
         localtime_r(&value, calendar) != nullptr;
}
