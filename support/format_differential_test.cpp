// Both formatting engines against the C library's snprintf, over every
// combination of flags, width, precision and conversion whose meaning the
// two grammars share. Directives where the grammars differ on purpose (#o,
// p, zero fill of strings, l meaning 32 bits, %n, %r) are left out here and
// checked in format_core_test.cpp.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/text_format.h"

namespace {

constexpr size_t kBufferUnits = 128;

std::u16string widen(const std::string& text) {
  std::u16string wide;
  for (unsigned char c : text) wide.push_back(c);
  return wide;
}

// Directive spellings: every subset of the flags, some widths and
// precisions, for `conversions` with the size modifier `size`.
std::vector<std::string> directives(const std::string& flagSet,
                                    const std::string& size,
                                    const std::string& conversions) {
  static const char* const kWidths[] = {"", "1", "5", "12", "*"};
  static const char* const kPrecisions[] = {"",   ".",   ".0", ".1",
                                            ".4", ".13", ".*"};
  std::vector<std::string> result;
  for (unsigned mask = 0; mask < (1u << flagSet.size()); ++mask) {
    std::string flags;
    for (size_t i = 0; i < flagSet.size(); ++i) {
      if (mask & (1u << i)) flags += flagSet[i];
    }
    for (const char* width : kWidths) {
      for (const char* precision : kPrecisions) {
        for (char conversion : conversions) {
          result.push_back("%" + flags + width + precision + size + conversion +
                           "|");
        }
      }
    }
  }
  return result;
}

// Runs one directive through snprintf and both engines with `value` and the
// `*` arguments 7 (width) and 3 (precision), or -7 and -3 for `negative`.
class Differential {
 public:
  template <typename T>
  void check(const std::string& format, T value) {
    for (const bool negative : {false, true}) {
      const int width = negative ? -7 : 7;
      const int precision = negative ? -3 : 3;
      const size_t star = format.find('*');
      const bool widthStar =
          star != std::string::npos && format[star - 1] != '.';
      const bool precisionStar = format.find(".*") != std::string::npos;
      if (!widthStar && !precisionStar && negative) return;
      std::string expected;
      std::string narrow;
      std::u16string wide;
      int32_t narrowResult = 0;
      int32_t wideResult = 0;
      if (widthStar && precisionStar) {
        run(format, &expected, &narrow, &wide, &narrowResult, &wideResult,
            width, precision, value);
      } else if (widthStar) {
        run(format, &expected, &narrow, &wide, &narrowResult, &wideResult,
            width, value);
      } else if (precisionStar) {
        run(format, &expected, &narrow, &wide, &narrowResult, &wideResult,
            precision, value);
      } else {
        run(format, &expected, &narrow, &wide, &narrowResult, &wideResult,
            value);
      }
      ++checked_;
      const bool same = narrow == expected && wide == widen(expected) &&
                        narrowResult == static_cast<int32_t>(expected.size()) &&
                        wideResult == narrowResult;
      if (!same && ++mismatches_ <= 20) {
        ADD_FAILURE() << "format \"" << format << "\" (star args " << width
                      << ", " << precision << "): snprintf \"" << expected
                      << "\", narrow \"" << narrow << "\" (" << narrowResult
                      << "), wide "
                      << (wide == widen(expected) ? "same" : "differs") << " ("
                      << wideResult << ")";
      }
    }
  }

  int checked() const { return checked_; }

 private:
  template <typename... Args>
  void run(const std::string& format, std::string* expected,
           std::string* narrow, std::u16string* wide, int32_t* narrowResult,
           int32_t* wideResult, Args... args) {
    char reference[kBufferUnits];
    char narrowText[kBufferUnits];
    char16_t wideText[kBufferUnits];
    std::snprintf(reference, sizeof reference, format.c_str(), args...);
    *narrowResult =
        utf8Snprintf(narrowText, sizeof narrowText, format.c_str(), args...);
    *wideResult =
        utf16Snprintf(wideText, kBufferUnits, format.c_str(), args...);
    *expected = reference;
    *narrow = narrowText;
    *wide = wideText;
  }

  int checked_ = 0;
  int mismatches_ = 0;
};

// True when the C library gives %u's space flag a sign space, as msvcrt
// and mingw-w64's own printf do; C99 applies the flag to signed conversions
// only, and so do our engines. Directives with both cannot be compared.
bool libraryPutsASpaceBeforeUnsigned() {
  char probe[8];
  std::snprintf(probe, sizeof probe, std::string("% u").c_str(), 1u);
  return std::string(probe) == " 1";
}

bool spaceFlagOnUnsigned(const std::string& directive) {
  const size_t end = directive.size() - 2;  // the conversion, before '|'
  return directive[end] == 'u' &&
         directive.find(' ') < directive.find_first_of("123456789*.");
}

TEST(FormatDifferential, IntegersAgreeWithSnprintf) {
  const int values[] = {0,    1,     -1,     7,       -42,     255,
                        4096, 65535, -65536, 1234567, INT_MAX, INT_MIN};
  const long long wideValues[] = {0,         -1,        1LL << 40,
                                  LLONG_MIN, LLONG_MAX, -1234567890123LL};
  const bool skipSpaceOnUnsigned = libraryPutsASpaceBeforeUnsigned();
  Differential diff;
  for (const std::string& f : directives("-+ 0", "", "diuxXo")) {
    if (skipSpaceOnUnsigned && spaceFlagOnUnsigned(f)) continue;
    for (int v : values) diff.check(f, v);
  }
  for (const std::string& f : directives("-0#", "", "xX")) {
    for (int v : values) diff.check(f, v);
  }
  for (const std::string& f : directives("-+ 0", "h", "dux")) {
    if (skipSpaceOnUnsigned && spaceFlagOnUnsigned(f)) continue;
    for (int v : values) diff.check(f, v);
  }
  for (const std::string& f : directives("-+ 0", "ll", "diuxXo")) {
    if (skipSpaceOnUnsigned && spaceFlagOnUnsigned(f)) continue;
    for (long long v : wideValues) diff.check(f, v);
  }
  EXPECT_GT(diff.checked(), 100000);
}

TEST(FormatDifferential, CharactersAndStringsAgreeWithSnprintf) {
  Differential diff;
  static const char* const kWidths[] = {"", "1", "5", "12", "*"};
  for (const char* flags : {"", "-"}) {
    for (const char* width : kWidths) {
      const std::string format = std::string("%") + flags + width + "c|";
      for (int c : {'a', 'Z', ' ', '%'}) diff.check(format, c);
    }
  }
  const char* const strings[] = {"", "a", "hello", "hello, world!"};
  for (const std::string& f : directives("-", "", "s")) {
    for (const char* s : strings) diff.check(f, s);
  }
  EXPECT_GT(diff.checked(), 400);
}

TEST(FormatDifferential, BinaryAgreesWhenTheCLibraryKnowsIt) {
  char probe[16];
  std::snprintf(probe, sizeof probe, std::string("%b").c_str(), 5);
  if (std::string(probe) != "101") GTEST_SKIP() << "snprintf lacks %b";
  Differential diff;
  for (const std::string& f : directives("-0", "", "b")) {
    for (int v : {0, 1, 5, -1, 1024}) diff.check(f, v);
  }
}

}  // namespace
