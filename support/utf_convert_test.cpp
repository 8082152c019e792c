// Strict UTF-8 <-> UTF-16 copies: every illegal-sequence class, surrogate
// pairs, the three failure outcomes and the partial results they leave.
#include "support/utf_convert.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr char16_t kUntouched = 0xBEEF;

struct ToUtf16Case {
  const char* name;
  const char* source;
  size_t size;  // destination units
  UtfStatus status;
  std::u16string written;  // units stored (with the NUL on success)
  size_t consumed;
};

TEST(Utf8ToUtf16, OutcomesAndPartialResults) {
  using S = UtfStatus;
  const ToUtf16Case cases[] = {
      {"ascii", "abc", 8, S::kOk, std::u16string(u"abc", 4), 4},
      {"two-byte", "\xC3\xA9", 8, S::kOk, std::u16string(u"\u00E9", 2), 3},
      {"three-byte", "\xE2\x82\xAC", 8, S::kOk, std::u16string(u"\u20AC", 2),
       4},
      {"largest BMP", "\xEF\xBF\xBF", 8, S::kOk, std::u16string(u"\uFFFF", 2),
       4},
      {"pair", "\xF0\x9F\x98\x80", 8, S::kOk, std::u16string(u"\U0001F600", 3),
       5},
      {"largest", "\xF4\x8F\xBF\xBF", 8, S::kOk,
       std::u16string(u"\U0010FFFF", 3), 5},
      {"empty", "", 1, S::kOk, std::u16string(1, 0), 1},
      // target exhausted: the last whole character that fits stays
      {"no room for NUL", "ab", 2, S::kTargetExhausted, u"ab", 2},
      {"no room at all", "ab", 0, S::kTargetExhausted, u"", 0},
      {"pair needs two", "a\xF0\x9F\x98\x80", 2, S::kTargetExhausted, u"a", 1},
      // source exhausted: the sequence runs past the terminator
      {"lead at end", "ab\xE2", 8, S::kSourceExhausted, u"ab", 2},
      {"4-lead at end", "\xF0\x9F", 8, S::kSourceExhausted, u"", 0},
      {"6-lead near end", "a\xFC\x80", 8, S::kSourceExhausted, u"a", 1},
      // source illegal
      {"cut by NUL", "ab\xE2\x82", 8, S::kSourceIllegal, u"ab", 2},
      {"lone continuation", "a\x80z", 8, S::kSourceIllegal, u"a", 1},
      {"bad continuation", "\xE2\x28\xA1", 8, S::kSourceIllegal, u"", 0},
      {"overlong C0", "x\xC0\x80", 8, S::kSourceIllegal, u"x", 1},
      {"overlong C1", "\xC1\xBF", 8, S::kSourceIllegal, u"", 0},
      {"overlong E0", "\xE0\x9F\xBF", 8, S::kSourceIllegal, u"", 0},
      {"overlong F0", "\xF0\x8F\xBF\xBF", 8, S::kSourceIllegal, u"", 0},
      {"surrogate D800", "\xED\xA0\x80", 8, S::kSourceIllegal, u"", 0},
      {"surrogate DFFF", "\xED\xBF\xBF", 8, S::kSourceIllegal, u"", 0},
      {"past 10FFFF", "\xF4\x90\x80\x80", 8, S::kSourceIllegal, u"", 0},
      {"lead F5", "\xF5\x80\x80\x80", 8, S::kSourceIllegal, u"", 0},
      {"five bytes", "\xF8\x88\x80\x80\x80", 8, S::kSourceIllegal, u"", 0},
      {"six bytes", "\xFC\x84\x80\x80\x80\x80", 8, S::kSourceIllegal, u"", 0},
      {"byte FF", "\xFF\x80\x80\x80\x80\x80\x80", 8, S::kSourceIllegal, u"", 0},
      // illegal beats target exhausted: legality is checked first
      {"illegal at full", "ab\x80", 2, S::kSourceIllegal, u"ab", 2},
  };
  for (const ToUtf16Case& c : cases) {
    std::vector<char16_t> out(c.size + 2, kUntouched);
    const UtfCopyResult result =
        utf8ToUtf16Convert(out.data(), c.source, c.size);
    EXPECT_EQ(result.status, c.status) << c.name;
    EXPECT_EQ(result.written, c.written.size()) << c.name;
    EXPECT_EQ(result.consumed, c.consumed) << c.name;
    EXPECT_TRUE(std::u16string(out.data(), result.written) == c.written)
        << c.name;
    // Nothing past the converted text is touched: no terminator of its own.
    EXPECT_EQ(out[result.written], kUntouched) << c.name;
  }
}

TEST(Utf8ToUtf16, SecondByteRangesAfterSpecialLeads) {
  struct Range {
    uint8_t lead;
    uint8_t low;
    uint8_t high;
  };
  const Range ranges[] = {{0xE0, 0xA0, 0xBF}, {0xE1, 0x80, 0xBF},
                          {0xED, 0x80, 0x9F}, {0xEE, 0x80, 0xBF},
                          {0xF0, 0x90, 0xBF}, {0xF1, 0x80, 0xBF},
                          {0xF4, 0x80, 0x8F}};
  for (const Range& r : ranges) {
    for (int second = 1; second < 256; ++second) {
      char source[] = {static_cast<char>(r.lead), static_cast<char>(second),
                       '\x80', '\x80', 0};
      if (r.lead < 0xF0) source[3] = 0;  // a 3-byte sequence
      char16_t out[4];
      const UtfCopyResult result = utf8ToUtf16Convert(out, source, 4);
      const bool legal = second >= r.low && second <= r.high;
      EXPECT_EQ(result.status == UtfStatus::kOk, legal)
          << std::hex << "lead " << int{r.lead} << " second " << second;
    }
  }
}

struct ToUtf8Case {
  const char* name;
  std::u16string source;  // without its NUL
  size_t size;
  UtfStatus status;
  std::string written;
  size_t consumed;
};

TEST(Utf16ToUtf8, OutcomesAndPartialResults) {
  using S = UtfStatus;
  const ToUtf8Case cases[] = {
      {"ascii", u"abc", 8, S::kOk, std::string("abc", 4), 4},
      {"7F", u"\u007F", 8, S::kOk, std::string("\x7F", 2), 2},
      {"80", u"\u0080", 8, S::kOk, std::string("\xC2\x80", 3), 2},
      {"7FF", u"\u07FF", 8, S::kOk, std::string("\xDF\xBF", 3), 2},
      {"800", u"\u0800", 8, S::kOk, std::string("\xE0\xA0\x80", 4), 2},
      {"FFFF", u"\uFFFF", 8, S::kOk, std::string("\xEF\xBF\xBF", 4), 2},
      {"pair", u"\U0001F600", 8, S::kOk, std::string("\xF0\x9F\x98\x80", 5), 3},
      {"10000", u"\U00010000", 8, S::kOk, std::string("\xF0\x90\x80\x80", 5),
       3},
      {"10FFFF", u"\U0010FFFF", 8, S::kOk, std::string("\xF4\x8F\xBF\xBF", 5),
       3},
      // target exhausted: nothing of the sequence that does not fit
      {"no room for NUL", u"ab", 2, S::kTargetExhausted, "ab", 2},
      {"half of two bytes", u"a\u00E9", 2, S::kTargetExhausted, "a", 1},
      {"3 of 4 bytes", u"\U0001F600", 3, S::kTargetExhausted, "", 0},
      {"no room at all", u"a", 0, S::kTargetExhausted, "", 0},
      // source illegal: unpaired surrogates
      {"lone low", std::u16string{u'a', 0xDC00, u'b'}, 8, S::kSourceIllegal,
       "a", 1},
      {"high then ascii", std::u16string{u'a', 0xD800, u'b'}, 8,
       S::kSourceIllegal, "a", 1},
      {"high then high", std::u16string{0xD800, 0xDBFF, 0xDC00}, 8,
       S::kSourceIllegal, "", 0},
      // the terminator is part of the source, so a final high surrogate
      // meets the NUL rather than the end
      {"high at end", std::u16string{u'a', 0xDBFF}, 8, S::kSourceIllegal, "a",
       1},
      {"reversed pair", std::u16string{0xDC00, 0xD800}, 8, S::kSourceIllegal,
       "", 0},
  };
  for (const ToUtf8Case& c : cases) {
    std::vector<char> out(c.size + 2, 'X');
    const UtfCopyResult result =
        utf16ToUtf8Convert(out.data(), c.source.c_str(), c.size);
    EXPECT_EQ(result.status, c.status) << c.name;
    EXPECT_EQ(result.written, c.written.size()) << c.name;
    EXPECT_EQ(result.consumed, c.consumed) << c.name;
    EXPECT_EQ(std::string(out.data(), result.written), c.written) << c.name;
    EXPECT_EQ(out[result.written], 'X') << c.name;
  }
}

TEST(UtfConvert, StatusMessages) {
  EXPECT_STREQ(utfStatusMessage(UtfStatus::kSourceExhausted),
               "source exhausted");
  EXPECT_STREQ(utfStatusMessage(UtfStatus::kTargetExhausted),
               "target exhausted");
  EXPECT_STREQ(utfStatusMessage(UtfStatus::kSourceIllegal), "source illegal");
}

}  // namespace
