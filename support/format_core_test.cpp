// Grammar, placement, integer widths, strings and the overflow rules of both
// formatting engines, checked through the terminating wrappers and the cores.
#include "support/format_core.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/text_format.h"

namespace {

std::u16string widen(const std::string& text) {
  std::u16string wide;
  for (unsigned char c : text) wide.push_back(c);
  return wide;
}

struct Formatted {
  std::string narrow;
  int32_t narrowResult;
  std::u16string wide;
  int32_t wideResult;
};

template <typename... Args>
Formatted formatBoth(const char* format, Args... args) {
  char narrow[512];
  char16_t wide[512];
  Formatted f;
  f.narrowResult = utf8Snprintf(narrow, sizeof narrow, format, args...);
  f.wideResult = utf16Snprintf(wide, 512, format, args...);
  f.narrow = narrow;
  f.wide = wide;
  return f;
}

// Both engines must produce `expected` (ASCII) and return its length.
template <typename... Args>
void expectBoth(const std::string& expected, const char* format, Args... args) {
  const Formatted f = formatBoth(format, args...);
  EXPECT_EQ(f.narrow, expected) << "narrow engine, format \"" << format << '"';
  EXPECT_EQ(f.narrowResult, static_cast<int32_t>(expected.size())) << format;
  EXPECT_TRUE(f.wide == widen(expected))
      << "wide engine, format \"" << format << '"';
  EXPECT_EQ(f.wideResult, static_cast<int32_t>(expected.size())) << format;
}

struct IntCase {
  const char* format;
  int value;
  const char* expected;
};

// Flag, width and precision combinations that snprintf shares are covered by
// format_differential_test.cpp; these are the ones particular to this
// grammar and the classic edge cases.
TEST(FormatCore, FlagsWidthAndFill) {
  const IntCase cases[] = {
      {"%5%", 1, "%"},
      {"%q", 1, "q"},
      {"%5q|", 1, "q|"},
      {"%+d", 0, "+0"},
      {"% d", 5, " 5"},
      {"%08X", 255, "000000FF"},
      {"%#06x", 255, "0x00ff"},
      {"%-6d|", 42, "42    |"},
      {"%#o", 0, "00"},
      {"%#o", 8, "010"},
      {"%#08o", 8, "00000010"},
      {"%#x", 0, "0"},
      {"%.0d", 0, ""},
      {"%#.0o", 0, "0"},
      {"%b", 5, "101"},
      {"%#b", 5, "101"},
      {"%08b", 5, "00000101"},
      {"%03c", 'A', "00A"},
      {"%r|%d", 9, "|9"},
      {"%5r|", 1, "|"},
      {"%hd", 65535, "-1"},
      {"%hu", 65537, "1"},
      {"%hx", 0x12345, "2345"},
      {"%ld", -1, "-1"},
      {"%lu", -1, "4294967295"},
      {"%Dd", -3, "-3"},
      {"%Nx", 255, "ff"},
      {"%d", INT_MIN, "-2147483648"},
      {"%%%d", 3, "%3"},
      {"%-5%|", 1, "%|"},
      {"%.", 1, ""},
      {"ab%", 1, "ab"},
      {"ab%-05.3l", 1, "ab"},
      {"%hhd", 1, "hd"},
      {"%.-3d", 1, "-3d"},
  };
  for (const IntCase& c : cases) expectBoth(c.expected, c.format, c.value);
  // %c keeps the low 16 bits in the wide engine, 8 in the narrow one.
  char16_t wide[8];
  ASSERT_EQ(utf16Snprintf(wide, 8, "%c", 0x10141), 1);
  EXPECT_EQ(wide[0], 0x0141);
  char narrow[8];
  ASSERT_EQ(utf8Snprintf(narrow, 8, "%c", 0x141), 1);
  EXPECT_STREQ(narrow, "A");
}

TEST(FormatCore, StarWidthAndPrecision) {
  expectBoth("7   |", "%*d|", -4, 7);
  expectBoth("   7", "%*d", 4, 7);
  expectBoth("7   |", "%0*d|", -4, 7);  // negative width also clears zero
  expectBoth("0", "%.*d", -1, 0);       // negative precision: none
  expectBoth("", "%.*d", 0, 0);
  expectBoth("   005", "%*.*d", 6, 3, 5);
  expectBoth("ab|", "%.*s|", 2, "abcdef");
  expectBoth("q4", "%*q%d", 9, 4);  // '*' takes its argument even so
  // The most negative width cannot be negated; it is clamped, not wrapped.
  char small[4];
  EXPECT_EQ(utf8Snprintf(small, sizeof small, "%*d", INT_MIN, 1), -4);
  EXPECT_STREQ(small, "1  ");
  // A written width past INT32_MAX saturates instead of wrapping negative.
  EXPECT_EQ(utf8Snprintf(small, sizeof small, "%99999999999d", 1), -4);
  EXPECT_STREQ(small, "   ");
}

TEST(FormatCore, IntegerWidths) {
  expectBoth("4294967301", "%Lu", 4294967301LL);
  expectBoth("4294967301", "%llu", 4294967301LL);
  expectBoth("18446744073709551615", "%llu", -1LL);
  expectBoth("-9223372036854775808", "%lld", LLONG_MIN);
  expectBoth("7fffffffffffffff", "%Lx", LLONG_MAX);
  expectBoth(std::string(64, '1'), "%llb", -1LL);
  // The 64-bit argument is taken whole: the next one is not misaligned.
  expectBoth("1099511627776 7", "%lld %d", 1LL << 40, 7);
  expectBoth("-1 3", "%hd %d", 65535, 3);
  // Precision beyond the digits a number can have still pads exactly.
  const Formatted f = formatBoth("%.100d", -5);
  EXPECT_EQ(f.narrow, "-" + std::string(99, '0') + "5");
  EXPECT_EQ(f.narrowResult, 101);
  EXPECT_TRUE(f.wide == widen(f.narrow));
  expectBoth("0x" + std::string(68, '0') + "ff", "%#.70x", 255);
}

TEST(FormatCore, Pointers) {
  expectBoth("0", "%p", static_cast<void*>(nullptr));
  void* p = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1234));
  expectBoth("0x1234", "%p", p);
  expectBoth("0x001234", "%08p", p);
  expectBoth("0x1234  |", "%-8p|", p);
  expectBoth("0x001234", "%.6p", p);
  expectBoth("0x00001234", "%010.6p", p);  // precision keeps zero fill for p
  expectBoth("     0", "%6p", static_cast<void*>(nullptr));
}

TEST(FormatCore, NarrowStringsInBothEngines) {
  expectBoth("abc", "%.3s", "abcdef");
  expectBoth("   ab", "%5s", "ab");
  expectBoth("ab   |", "%-5s|", "ab");
  expectBoth("000ab", "%05s", "ab");
  expectBoth("ab", "%hs", "ab");
  expectBoth("ab", "%Ls", "ab");
  expectBoth("ab", "%lls", "ab");
  const char* none = nullptr;
  const char16_t* wideNone = nullptr;
  expectBoth("(null)", "%s", none);
  expectBoth("(null)", "%ls", wideNone);
  expectBoth("(null)", "%Ds", none);
  expectBoth("(nu", "%.3s", none);
  expectBoth("  (null)", "%8s", none);
  // Precision bounds the read: the text need not be terminated.
  const char unterminated[3] = {'x', 'y', 'z'};
  expectBoth("xy", "%.2s", unterminated);
}

TEST(FormatCore, WideEngineStrings) {
  char16_t out[64];
  // Narrow bytes are widened without a code page.
  EXPECT_EQ(utf16Snprintf(out, 64, "%s", "caf\xE9"), 4);
  EXPECT_EQ(std::u16string(out), u"caf\u00E9");
  // %Ds converts UTF-8: a two-byte sequence is one unit.
  EXPECT_EQ(utf16Snprintf(out, 64, "%Ds", "caf\xC3\xA9"), 4);
  EXPECT_EQ(std::u16string(out), u"caf\u00E9");
  EXPECT_EQ(utf16Snprintf(out, 64, "%Ns|", "\xF0\x9F\x98\x80"), 3);
  EXPECT_EQ(std::u16string(out), u"\U0001F600|");
  // A conversion that stops early shows the part before the bad byte.
  EXPECT_EQ(utf16Snprintf(out, 64, "[%Ds]", "ab\xC0\x80yz"), 4);
  EXPECT_EQ(std::u16string(out), u"[ab]");
  EXPECT_EQ(utf16Snprintf(out, 64, "[%4Ds]", "ab\xE2"), 6);
  EXPECT_EQ(std::u16string(out), u"[  ab]");
  // %ls is used unchanged, surrogates and all; precision counts units.
  EXPECT_EQ(utf16Snprintf(out, 64, "%ls", u"x\U0001F600"), 3);
  EXPECT_EQ(std::u16string(out), u"x\U0001F600");
  EXPECT_EQ(utf16Snprintf(out, 64, "%.1ls%-3ls|", u"\u00E9t\u00E9", u"a"), 5);
  EXPECT_EQ(std::u16string(out), u"\u00E9a  |");
}

TEST(FormatCore, NarrowEngineStrings) {
  char out[64];
  EXPECT_EQ(utf8Snprintf(out, sizeof out, "%ls", u"\U0001F600"), 4);
  EXPECT_STREQ(out, "\xF0\x9F\x98\x80");
  EXPECT_EQ(utf8Snprintf(out, sizeof out, "%ls", u"caf\u00E9\u20AC"), 8);
  EXPECT_STREQ(out, "caf\xC3\xA9\xE2\x82\xAC");
  // Precision counts bytes, even inside a sequence.
  EXPECT_EQ(utf8Snprintf(out, sizeof out, "%.4ls|", u"caf\u00E9"), 5);
  EXPECT_STREQ(out, "caf\xC3|");
  // An unpaired surrogate stops the conversion; the part before it stays.
  const char16_t lone[] = {u'a', u'b', 0xD800, u'c', 0};
  EXPECT_EQ(utf8Snprintf(out, sizeof out, "[%ls]", lone), 4);
  EXPECT_STREQ(out, "[ab]");
  // D and N change nothing in the narrow engine.
  EXPECT_EQ(utf8Snprintf(out, sizeof out, "%Ds", "\xC0"), 1);
  EXPECT_STREQ(out, "\xC0");
}

TEST(FormatCore, StringLengthLimits) {
  const std::string longNarrow(9000, 'a');
  const std::u16string longWide(9000, u'b');
  std::vector<char> narrow(10000);
  std::vector<char16_t> wide(10000);
  // Narrow text in the narrow engine and wide text in the wide one are
  // used whole; everything that passes the scratch area stops at 8191.
  EXPECT_EQ(
      utf8Snprintf(narrow.data(), narrow.size(), "%s", longNarrow.c_str()),
      9000);
  EXPECT_EQ(utf16Snprintf(wide.data(), wide.size(), "%ls", longWide.c_str()),
            9000);
  EXPECT_EQ(utf16Snprintf(wide.data(), wide.size(), "%s", longNarrow.c_str()),
            8191);
  EXPECT_EQ(utf16Snprintf(wide.data(), wide.size(), "%Ds", longNarrow.c_str()),
            8191);
  EXPECT_EQ(utf8Snprintf(narrow.data(), narrow.size(), "%ls", longWide.c_str()),
            8191);
  EXPECT_EQ(std::string(narrow.data()), std::string(8191, 'b'));
}

TEST(FormatCore, CountStoresUnitsProducedSoFar) {
  int32_t n32 = -1;
  int16_t n16 = -1;
  int64_t n64 = -1;
  int32_t nLong = -1;
  char out[64];
  EXPECT_EQ(utf8Snprintf(out, sizeof out, "ab%ncd%5d%hn|%lln%ln", &n32, 1, &n16,
                         &n64, &nLong),
            10);
  EXPECT_STREQ(out, "abcd    1|");
  EXPECT_EQ(n32, 2);
  EXPECT_EQ(n16, 9);
  EXPECT_EQ(n64, 10);
  EXPECT_EQ(nLong, 10);
  char16_t wide[64];
  n32 = -1;
  EXPECT_EQ(utf16Snprintf(wide, 64, "%Ds%n%d", "\xC3\xA9\xC3\xA9", &n32, 7), 3);
  EXPECT_EQ(n32, 2);  // units, not bytes
}

TEST(FormatCore, WrapperTermination) {
  char out[4];
  EXPECT_EQ(utf8Snprintf(out, 4, "abc"), 3);
  EXPECT_STREQ(out, "abc");
  EXPECT_EQ(utf8Snprintf(out, 4, "abcd"), -4);
  EXPECT_STREQ(out, "abc");
  EXPECT_EQ(utf8Snprintf(out, 4, "%s", "abcdefgh"), -4);
  EXPECT_STREQ(out, "abc");
  EXPECT_EQ(utf8Snprintf(out, 1, ""), 0);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(utf8Snprintf(out, 1, "a"), -1);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(utf8Snprintf(out, 4, nullptr), 0);
  EXPECT_STREQ(out, "");
  // No room for even a terminator: nothing is stored.
  out[0] = 'x';
  EXPECT_EQ(utf8Snprintf(out, 0, "a"), -1);
  EXPECT_EQ(out[0], 'x');
  char16_t wide[4];
  EXPECT_EQ(utf16Snprintf(wide, 4, "abc"), 3);
  EXPECT_EQ(std::u16string(wide), u"abc");
  EXPECT_EQ(utf16Snprintf(wide, 4, "%d", 12345), -4);
  EXPECT_EQ(std::u16string(wide), u"123");
  EXPECT_EQ(utf16Snprintf(nullptr, 0, "a"), -1);
}

int32_t narrowCore(Utf8FormatSink* sink, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int32_t result = utf8FormatCore(format, args, sink);
  va_end(args);
  return result;
}

int32_t wideCore(Utf16FormatSink* sink, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int32_t result = utf16FormatCore(format, args, sink);
  va_end(args);
  return result;
}

TEST(FormatCore, CoreOverflowResult) {
  char text[8];
  Utf8FormatSink sink{text, 0, 4};
  // The whole directive counts: 2 literal units plus a field of 5.
  EXPECT_EQ(narrowCore(&sink, "ab%5d", 1), -7);
  EXPECT_EQ(sink.count, 4);
  EXPECT_EQ(std::string(text, 4), "ab  ");
  // A literal byte that does not fit counts itself.
  sink = Utf8FormatSink{text, 0, 2};
  EXPECT_EQ(narrowCore(&sink, "abcd"), -3);
  EXPECT_EQ(std::string(text, 2), "ab");
  // Output that fills the sink exactly is not an overflow for the core.
  sink = Utf8FormatSink{text, 0, 3};
  EXPECT_EQ(narrowCore(&sink, "%s", "abc"), 3);
  // No room at all.
  sink = Utf8FormatSink{nullptr, 0, 0};
  EXPECT_EQ(narrowCore(&sink, "%s", ""), 0);
  EXPECT_EQ(narrowCore(&sink, "x"), -1);
  // A sink continues from its count.
  char16_t wide[8];
  Utf16FormatSink wideSink{wide, 0, 8};
  EXPECT_EQ(wideCore(&wideSink, "ab"), 2);
  EXPECT_EQ(wideCore(&wideSink, "%d", 34), 4);
  EXPECT_EQ(std::u16string(wide, 4), u"ab34");
  // A huge width reports the units that were due, saturated.
  wideSink = Utf16FormatSink{wide, 0, 8};
  EXPECT_EQ(wideCore(&wideSink, "x%*d", INT_MAX, 1), -INT32_MAX);
}

}  // namespace
