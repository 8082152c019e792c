// consoleReport end to end (stderr captured, locale chosen through the
// environment), the console encoders, and the silent log facility.
#include "support/console_report.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/console_output.h"
#include "support/log_print.h"
#include "tests/scoped_env.h"

namespace {

// Redirects file descriptor 2 into a temporary file for its lifetime.
class StderrCapture {
 public:
  StderrCapture() : file_(std::tmpfile()) {
    std::fflush(stderr);
    saved_ = dup(2);
    if (file_ != nullptr) dup2(fileno(file_), 2);
  }
  ~StderrCapture() {
    restore();
    if (file_ != nullptr) std::fclose(file_);
  }
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Everything written so far; ends the capture.
  std::string text() {
    restore();
    std::string result;
    if (file_ == nullptr) return result;
    std::rewind(file_);
    char block[4096];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, file_)) > 0) {
      result.append(block, n);
    }
    return result;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
  }

  std::FILE* file_;
  int saved_ = -1;
};

// Sets LC_ALL for its lifetime, restoring the previous value; the console
// writer looks the character set up again each time.
class ScopedLocaleEnv {
 public:
  explicit ScopedLocaleEnv(const char* value) {
    const char* old = std::getenv("LC_ALL");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    test_env::setVariable("LC_ALL", value);
    consoleCharsetReload();
  }
  ~ScopedLocaleEnv() {
    if (hadOld_) {
      test_env::setVariable("LC_ALL", old_.c_str());
    } else {
      test_env::removeVariable("LC_ALL");
    }
    consoleCharsetReload();
  }
  ScopedLocaleEnv(const ScopedLocaleEnv&) = delete;
  ScopedLocaleEnv& operator=(const ScopedLocaleEnv&) = delete;

 private:
  bool hadOld_;
  std::string old_;
};

bool utf8LocaleAvailable() {
  ScopedLocaleEnv env("C.UTF-8");
  char charset[64];
  consoleCharset(charset, sizeof charset);
  return std::string(charset) == "UTF-8";
}

TEST(ConsoleReport, NullFormatPrintsNothing) {
  StderrCapture capture;
  EXPECT_EQ(consoleReport(nullptr), 0);
  EXPECT_EQ(capture.text(), "");
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

TEST(ConsoleReport, LongMessagePrintsItsTruncatedText) {
  ScopedLocaleEnv env("C");
  const std::string longText(5000, 'a');
  StderrCapture capture;
  const int32_t written = consoleReport("%s\r\n", longText.c_str());
  EXPECT_EQ(capture.text(), std::string(kConsoleReportUnits - 1, 'a'));
  EXPECT_EQ(written, kConsoleReportUnits - 1);
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
