// The report pieces both platforms' crash handlers write: times, numbers and
// the numbered report names.
#include "support/crash_report_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string textOf(const CrashText& line) {
  return std::string(line.text, line.length);
}

TEST(CrashReportText, FormatsTimesAndNumbers) {
  struct Case {
    long long seconds;
    const char* time;
  };
  const Case cases[] = {
      {0, "1970-01-01 00:00:00 UTC"},
      {951782400, "2000-02-29 00:00:00 UTC"},  // leap day of a 400-year
      {1796582712, "2026-12-06 18:45:12 UTC"},
      {-1, "1969-12-31 23:59:59 UTC"},
      {4107542399, "2100-02-28 23:59:59 UTC"},  // no leap day in 2100
  };
  for (const Case& c : cases) {
    CrashText line;
    line.addUtcTime(c.seconds);
    EXPECT_EQ(textOf(line), c.time) << c.seconds;
  }
  CrashText line;
  line.addDecimal(-42);
  line.add(" ");
  line.addHex(0xC0000005, 8);
  line.add(" ");
  line.addHex(0x1f);
  EXPECT_EQ(textOf(line), std::string("-42 0xc0000005 0x") +
                              std::string(2 * sizeof(uintptr_t) - 2, '0') +
                              "1f");
  // Text past the buffer is dropped, never written beyond it.
  line.length = 0;
  for (int i = 0; i < 100; ++i) line.add("0123456789");
  EXPECT_EQ(line.length, sizeof line.text);
}

TEST(CrashReportText, NumbersTheReportNameUntilAFreeOne) {
  std::vector<std::string> tried;
  char path[16];
  const auto takenUntil = [&tried](size_t free) {
    return [&tried, free](const char* name) {
      tried.push_back(name);
      return tried.size() < free ? CrashFileOutcome::kExists
                                 : CrashFileOutcome::kCreated;
    };
  };
  EXPECT_TRUE(crashCreateNumberedFile("r", path, takenUntil(1)));
  EXPECT_EQ(tried, std::vector<std::string>{"r"});
  tried.clear();
  EXPECT_TRUE(crashCreateNumberedFile("r", path, takenUntil(10)));
  EXPECT_EQ(tried.size(), 10u);
  EXPECT_EQ(tried[1], "r-2");
  EXPECT_EQ(tried[9], "r-10");
  tried.clear();
  EXPECT_FALSE(crashCreateNumberedFile("r", path, takenUntil(1000)));
  EXPECT_EQ(tried.back(), "r-99");
  tried.clear();
  EXPECT_FALSE(crashCreateNumberedFile("r", path, [&tried](const char* name) {
    tried.push_back(name);
    return CrashFileOutcome::kFailed;
  }));
  EXPECT_EQ(tried.size(), 1u);
}

}  // namespace
