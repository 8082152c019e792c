// Wide-string routines: limits and NUL handling.
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

TEST(Ucs2String, Length) {
  EXPECT_EQ(ucs2Len(u"abcde"), 5u);
  EXPECT_EQ(ucs2Len(u""), 0u);
}

}  // namespace
