// consoleReport under POSIX locales: the character set comes from LC_ALL,
// and "\r\n" reaches the terminal as "\n".
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support/console_output.h"
#include "support/console_report.h"
#include "tests/console_capture.h"
#include "tests/scoped_env.h"

namespace {

using test_console::ScopedLocaleEnv;
using test_console::StderrCapture;

bool utf8LocaleAvailable() {
  ScopedLocaleEnv env("C.UTF-8");
  char charset[64];
  consoleCharset(charset, sizeof charset);
  return std::string(charset) == "UTF-8";
}

TEST(ConsoleReport, Utf8LocaleGetsUtf8) {
  if (!utf8LocaleAvailable()) GTEST_SKIP() << "no C.UTF-8 locale";
  ScopedLocaleEnv env("C.UTF-8");
  StderrCapture capture;
  const int32_t written =
      consoleReport("caf%Ds %ls %d\r\n", "\xC3\xA9", u"\u20AC\U0001F600", 7);
  const std::string expected = "caf\xC3\xA9 \xE2\x82\xAC\xF0\x9F\x98\x80 7\n";
  EXPECT_EQ(capture.text(), expected);
  EXPECT_EQ(written, static_cast<int32_t>(expected.size()));
}

TEST(ConsoleReport, CLocaleReplacesWhatItCannotShow) {
  ScopedLocaleEnv env("C");
  StderrCapture capture;
  const int32_t written =
      consoleReport("caf%Ds %ls\r\n", "\xC3\xA9", u"\u20AC\U0001F600");
  EXPECT_EQ(capture.text(), "caf? ??\n");
  EXPECT_EQ(written, 8);
}

TEST(ConsoleReport, UnknownLocaleFallsBackToTheCLocale) {
  ScopedLocaleEnv env("xx_NOWHERE.UTF-8");
  StderrCapture capture;
  consoleReport("%Ds\r\n", "\xC3\xA9");
  EXPECT_EQ(capture.text(), "?\n");
}

TEST(ConsoleReport, LineEndsAreWrittenAsNewlines) {
  struct Case {
    const char* format;
    const char* expected;
  };
  const Case cases[] = {
      {"bad CRC 0x%04x\r\n", "bad CRC 0x30e6\n"},
      {"a\r\nb\r\n\r\n", "a\nb\n\n"},
      {"\r\r\n\n\r", "\r\n\n\r"},  // only the pair is a line end
      {"x\n\r\n", "x\n\n"},
  };
  for (const Case& c : cases) {
    ScopedLocaleEnv env("C");
    StderrCapture capture;
    const int32_t written = consoleReport(c.format, 0x30e6);
    const std::string text = capture.text();
    EXPECT_EQ(text, c.expected) << c.format;
    EXPECT_EQ(written, static_cast<int32_t>(text.size())) << c.format;
  }
}

TEST(ConsoleReport, CharacterSetIsLookedUpOncePerRun) {
  if (!utf8LocaleAvailable()) GTEST_SKIP() << "no C.UTF-8 locale";
  ScopedLocaleEnv env("C");
  consoleReport("");  // the first message of the run looks it up
  test_env::setVariable("LC_ALL", "C.UTF-8");
  StderrCapture capture;
  consoleReport("%Ds\r\n", "\xC3\xA9");
  EXPECT_EQ(capture.text(), "?\n");
}

TEST(ConsoleReport, MessageOfMoreThan4096BytesIsNotLost) {
  if (!utf8LocaleAvailable()) GTEST_SKIP() << "no C.UTF-8 locale";
  ScopedLocaleEnv env("C.UTF-8");
  std::string text;
  for (int i = 0; i < 3000; ++i) text += "\xE2\x82\xAC";  // 3 bytes, 1 unit
  StderrCapture capture;
  const int32_t written = consoleReport("%Ds", text.c_str());
  EXPECT_EQ(capture.text(), text);
  EXPECT_EQ(written, 9000);
}

}  // namespace
