// The CRT's 64-bit conversion refuses negative times and years past 3000.
#include <time.h>

#include "support/time_stamp.h"

bool localCalendarOf(int64_t seconds, struct tm* calendar) {
  const __time64_t value = static_cast<__time64_t>(seconds);
  return _localtime64_s(calendar, &value) == 0;
}
