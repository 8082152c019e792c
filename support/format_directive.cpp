#include "support/format_directive.h"

#include <cstdint>

namespace {

uint32_t flagOf(unsigned char c) {
  switch (c) {
    case ' ':
      return kFormatSpace;
    case '#':
      return kFormatAlternate;
    case '+':
      return kFormatPlus;
    case '-':
      return kFormatLeft;
    case '0':
      return kFormatZero;
    default:
      return 0;
  }
}

bool isDigit(unsigned char c) { return c >= '0' && c <= '9'; }

// Reads a run of decimal digits; a value past INT32_MAX saturates there, so
// an absurd width cannot wrap into a negative one.
int32_t parseDecimal(const unsigned char*& p) {
  int64_t value = 0;
  while (isDigit(*p)) {
    value = value * 10 + (*p - '0');
    if (value > INT32_MAX) value = INT32_MAX;
    ++p;
  }
  return static_cast<int32_t>(value);
}

}  // namespace

const char* formatParseDirective(const char* text, FormatDirective* directive) {
  FormatDirective d{};
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);

  while (const uint32_t bit = flagOf(*p)) {
    d.flags |= bit;
    ++p;
  }

  if (*p == '*') {
    d.widthFromArg = true;
    d.flags |= kFormatWidthGiven;
    ++p;
  } else if (isDigit(*p)) {
    d.flags |= kFormatWidthGiven;
    d.width = parseDecimal(p);
  }

  if (*p == '.') {
    ++p;
    if (*p == '*') {
      d.precisionFromArg = true;
      ++p;
    } else {
      d.flags |= kFormatPrecisionGiven;
      d.precision = parseDecimal(p);
    }
  }

  switch (*p) {
    case 'h':
      d.size = FormatSize::kShort;
      ++p;
      break;
    case 'l':
      ++p;
      if (*p == 'l') {
        d.size = FormatSize::kLongLong;
        ++p;
      } else {
        d.size = FormatSize::kLong;
      }
      break;
    case 'L':
      d.size = FormatSize::kLongL;
      ++p;
      break;
    case 'D':
    case 'N':
      d.size = FormatSize::kUtf8;
      ++p;
      break;
    default:
      break;
  }

  d.conversion = static_cast<char>(*p);
  if (*p != '\0') ++p;
  *directive = d;
  return reinterpret_cast<const char*>(p);
}

FormatArg formatArgOf(const FormatDirective& directive) {
  switch (directive.conversion) {
    case 'd':
    case 'i':
    case 'u':
    case 'o':
    case 'x':
    case 'X':
    case 'b':
      switch (directive.size) {
        case FormatSize::kShort:
          return FormatArg::kShort;
        case FormatSize::kLongLong:
        case FormatSize::kLongL:
          return FormatArg::kLongLong;
        default:
          return FormatArg::kInt;
      }
    case 'c':
      return FormatArg::kInt;
    case 'p':
      return FormatArg::kPointer;
    case 's':
      return directive.size == FormatSize::kLong ? FormatArg::kWideString
                                                 : FormatArg::kNarrowString;
    case 'n':
      switch (directive.size) {
        case FormatSize::kShort:
          return FormatArg::kCount16;
        case FormatSize::kLongLong:
          return FormatArg::kCount64;
        default:
          return FormatArg::kCount32;
      }
    default:
      return FormatArg::kNone;
  }
}
