// Wide-string routines: limits, NUL handling and the ASCII-only folding of
// ucs2NICmp.
#include "support/ucs2_string.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Ucs2String, FromNarrowCpyWidensWithoutCodePage) {
  char16_t out[8];
  char16_t* end = ucs2FromNarrowCpy(out, "caf\xE9!", 4);
  EXPECT_EQ(end, out + 4);
  EXPECT_EQ(std::u16string(out), u"caf\u00E9");  // zero-extended, not -23
  end = ucs2FromNarrowCpy(out, "ab", 7);
  EXPECT_EQ(end, out + 2);
  EXPECT_EQ(std::u16string(out), u"ab");
  EXPECT_EQ(ucs2FromNarrowCpy(out, "ab", 0), out);
  EXPECT_EQ(out[0], 0);
}

TEST(Ucs2String, CopyConcatenateAndLength) {
  char16_t out[16] = {};
  EXPECT_EQ(ucs2Cpy(out, u"abc"), out);
  EXPECT_EQ(ucs2Cat(out, u"de"), out);
  EXPECT_EQ(ucs2Cat(out, u""), out);
  EXPECT_EQ(std::u16string(out), u"abcde");
  EXPECT_EQ(ucs2Len(out), 5u);
  EXPECT_EQ(ucs2Len(u""), 0u);
}

TEST(Ucs2String, FindFirstAndLast) {
  const char16_t* text = u"a/b\\c/d";
  EXPECT_EQ(ucs2Chr(text, u'/'), text + 1);
  EXPECT_EQ(ucs2RChr(text, u'/'), text + 5);
  EXPECT_EQ(ucs2Chr(text, u'x'), nullptr);
  EXPECT_EQ(ucs2RChr(text, u'x'), nullptr);
  EXPECT_EQ(ucs2Chr(text, 0), text + 7);
  EXPECT_EQ(ucs2RChr(text, 0), text + 7);
  char16_t mutableText[] = u"xyx";
  char16_t* found = ucs2RChr(mutableText, u'x');
  EXPECT_EQ(found, mutableText + 2);
}

TEST(Ucs2String, NICmpFoldsOnlyAsciiLetters) {
  struct Case {
    const char16_t* a;
    const char16_t* b;
    size_t n;
    int32_t expected;
  };
  const Case cases[] = {
      {u"Hello", u"hELLO", 10, 0},
      {u"abc", u"abd", 10, 'c' - 'd'},
      {u"abc", u"abd", 2, 0},
      {u"ab", u"abc", 10, -'c'},
      {u"ab\0x", u"ab\0y", 10, 0},  // stops at the shared NUL
      {u"x", u"y", 0, 0},
      // '[' sits between 'Z' and 'a': folding to lower case gives '[' - 'a'.
      {u"[", u"A", 1, '[' - 'a'},
      {u"\u00C0", u"\u00E0", 1, 0xC0 - 0xE0},  // no folding past ASCII
      {u"\uFFFF", u"a", 1, 0xFFFF - 'a'},      // unsigned 16-bit values
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ucs2NICmp(c.a, c.b, c.n), c.expected)
        << "n=" << c.n << " expected " << c.expected;
  }
}

}  // namespace
