// Wide-string routines: limits and NUL handling.
#include "support/utf16_string.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Utf16String, FromNarrowCpyWidensWithoutCodePage) {
  char16_t out[8];
  char16_t* end = utf16FromNarrowCpy(out, "caf\xE9!", 4);
  EXPECT_EQ(end, out + 4);
  EXPECT_EQ(std::u16string(out), u"caf\u00E9");  // zero-extended, not -23
  end = utf16FromNarrowCpy(out, "ab", 7);
  EXPECT_EQ(end, out + 2);
  EXPECT_EQ(std::u16string(out), u"ab");
  EXPECT_EQ(utf16FromNarrowCpy(out, "ab", 0), out);
  EXPECT_EQ(out[0], 0);
}

TEST(Utf16String, Length) {
  EXPECT_EQ(utf16Len(u"abcde"), 5u);
  EXPECT_EQ(utf16Len(u""), 0u);
}

}  // namespace
