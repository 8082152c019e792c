// consoleReport end to end (stderr captured), the console encoders, and the
// silent log facility. The cases that choose the character set through POSIX
// locales are in console_report_posix_test.cpp.
#include "support/console_report.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/console_output.h"
#include "support/log_print.h"
#include "tests/console_capture.h"

namespace {

using test_console::ScopedLocaleEnv;
using test_console::StderrCapture;

TEST(ConsoleReport, NullFormatPrintsNothing) {
  StderrCapture capture;
  EXPECT_EQ(consoleReport(nullptr), 0);
  EXPECT_EQ(capture.text(), "");
}

TEST(ConsoleReport, LongMessagePrintsItsTruncatedText) {
  ScopedLocaleEnv env("C");
  const std::string longText(5000, 'a');
  StderrCapture capture;
  const int32_t written = consoleReport("%s\r\n", longText.c_str());
  EXPECT_EQ(capture.text(), std::string(kConsoleReportUnits - 1, 'a'));
  EXPECT_EQ(written, kConsoleReportUnits - 1);
}

TEST(ConsoleEncode, CharacterSets) {
  struct Case {
    const char* charset;
    std::u16string text;
    std::string expected;
  };
  const Case cases[] = {
      {"UTF-8", u"a\u00E9\U0001F600", "a\xC3\xA9\xF0\x9F\x98\x80"},
      {"utf8", u"\u20AC", "\xE2\x82\xAC"},
      {"UTF-8", std::u16string{u'a', 0xD800, u'b', 0xDC00}, "a?b?"},
      {"ISO-8859-1", u"caf\u00E9 \u20AC", "caf\xE9 ?"},
      {"ISO-8859-1", u"x\U0001F600y", "x?y"},
      {"ISO-8859-1", std::u16string{u'a', 0xDC00, u'b', 0xD800}, "a?b?"},
      {"ISO-8859-15", u"\u20AC", "\xA4"},
      {"ANSI_X3.4-1968", u"caf\u00E9\U0001F600", "caf??"},
      {"NO-SUCH-CHARSET", u"caf\u00E9", "caf?"},
  };
  for (const Case& c : cases) {
    char out[64];
    const size_t n =
        consoleEncode(c.charset, c.text.data(), c.text.size(), out, sizeof out);
    EXPECT_EQ(std::string(out, n), c.expected) << c.charset;
  }
}

TEST(ConsoleEncode, CutsAtCharacterBoundary) {
  const std::u16string text = u"ab\u20AC";
  char out[4];
  EXPECT_EQ(consoleEncode("UTF-8", text.data(), text.size(), out, 4), 2u);
  EXPECT_EQ(consoleEncode("ISO-8859-1", text.data(), text.size(), out, 2), 2u);
}

TEST(LogPrint, DropsEveryRecordWithoutALogger) {
  StderrCapture capture;
  for (LogLevel level = kLogDropped; level <= kLogEvent; ++level) {
    logPrint(nullptr, level, "tag", "record %d\r\n", level);
  }
  EXPECT_EQ(capture.text(), "");
  EXPECT_STREQ(logLevelName(kLogWarning), "WARNING");
  EXPECT_STREQ(logLevelName(kLogEvent), "EVENT");
}

}  // namespace
