#include "support/crash_report_text.h"

void CrashText::add(const char* s) {
  while (*s != '\0' && length < sizeof text) text[length++] = *s++;
}

void CrashText::addDecimal(long long value) {
  char digits[24];
  int count = 0;
  unsigned long long magnitude =
      value < 0 ? 0ULL - static_cast<unsigned long long>(value)
                : static_cast<unsigned long long>(value);
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0 && length < sizeof text) text[length++] = '-';
  while (count > 0 && length < sizeof text) text[length++] = digits[--count];
}

void CrashText::addPadded(long long value) {
  if (value < 10) add("0");
  addDecimal(value);
}

void CrashText::addHex(uintptr_t value, int digits) {
  add("0x");
  for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
    const unsigned digit = static_cast<unsigned>(value >> shift) & 0xF;
    if (length < sizeof text) {
      text[length++] =
          static_cast<char>(digit < 10 ? '0' + digit : 'a' + digit - 10);
    }
  }
}

// Days to civil date after H. Hinnant's algorithm, which needs no library
// call.
void CrashText::addUtcTime(long long seconds) {
  long long days = seconds / 86400;
  long long rest = seconds % 86400;
  if (rest < 0) {
    rest += 86400;
    --days;
  }
  days += 719468;
  const long long era = (days >= 0 ? days : days - 146096) / 146097;
  const long long dayOfEra = days - era * 146097;
  const long long yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const long long dayOfYear =
      dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const long long monthIndex = (5 * dayOfYear + 2) / 153;
  const long long day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
  const long long month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
  const long long year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
  addDecimal(year);
  add("-");
  addPadded(month);
  add("-");
  addPadded(day);
  add(" ");
  addPadded(rest / 3600);
  add(":");
  addPadded(rest / 60 % 60);
  add(":");
  addPadded(rest % 60);
  add(" UTC");
}

