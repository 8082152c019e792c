#include "support/display_name.h"

#include <gtest/gtest.h>

namespace {

TEST(DisplayName, ShowsEveryNameAsValidUtf8OnOneLine) {
  const struct {
    const char* name;
    const char* shown;
  } cases[] = {
      {"C:\\M\xC3\xBCller\\\xF0\x9F\x8E\xA7\xF4\x8F\xBF\xBF.wav",
       "C:\\M\xC3\xBCller\\\xF0\x9F\x8E\xA7\xF4\x8F\xBF\xBF.wav"},
      {"\xC3\x84\n\t\r\x01\x1B[\x7F", "\xC3\x84\\n\\t\\r\\x01\\x1B[\\x7F"},
      // Latin-1, a cut sequence, stray continuation bytes, overlong forms,
      // an encoded surrogate, a value past 10FFFF, a lead byte of nothing.
      {"\xC4-\xE2\x82", "\\xC4-\\xE2\\x82"},
      {"\x80\xC0\xAF\xE0\x80\xAF", "\\x80\\xC0\\xAF\\xE0\\x80\\xAF"},
      {"\xED\xA0\x80\xF4\x90\x80\x80\xFF",
       "\\xED\\xA0\\x80\\xF4\\x90\\x80\\x80\\xFF"},
      {nullptr, "(null)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(displayName(c.name), c.shown) << (c.name ? c.name : "null");
  }
}

}  // namespace
