#include "app/record_pattern.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/test_files.h"

namespace {

struct PatternCase {
  const char* pattern;
  const char* queue;
  uint32_t number;
  const char* expected;
};

TEST(RecordPattern, ExpandsEveryConversion) {
  const PatternTime time{2024, 3, 7, 9, 5, 1};
  const PatternCase cases[] = {
      {"%Y%m%d-%H%M%S.wav", "q", 1, "20240307-090501.wav"},
      {"rec/%F/%T.wav", "q", 1, "rec/2024-03-07/09-05-01.wav"},
      {"%q-%n.wav", "sales", 12, "sales-12.wav"},
      {"100%%_%n", nullptr, 3, "100%_3"},
      // The queue name never leads elsewhere, hides or carries separators.
      {"%q/x.wav", "../etc", 1, "_._etc/x.wav"},
      {"%q.wav", "a b:c\\d*?\"<>|", 1, "a_b_c_d______.wav"},
      // UTF-8 letters stay; broken sequences do not.
      {"%q.wav", "Z\xC3\xBCrich\xE2\x82", 1, "Z\xC3\xBCrich__.wav"},
      {"%q.wav", "\xED\xA0\x80", 1, "___.wav"},  // a surrogate
      {"%q.wav", "Com1", 1, "_Com1.wav"},  // a device name on Windows
  };
  for (const PatternCase& c : cases) {
    EXPECT_EQ(recordPatternError(c.pattern), "") << c.pattern;
    EXPECT_EQ(expandRecordPattern(c.pattern, time, c.queue, c.number),
              c.expected)
        << c.pattern;
  }
  for (const char* bad : {"", "x%", "%x.wav", "%Y/"}) {
    EXPECT_NE(recordPatternError(bad), "") << bad;
  }
}

TEST(RecordPattern, CreatesFoldersAndNeverReusesAName) {
  test_files::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string name = dir.file("a/b/c.d.wav");
  Failure failure;
  const std::string expected[] = {name, dir.file("a/b/c.d-2.wav"),
                                  dir.file("a/b/c.d-3.wav")};
  for (const std::string& want : expected) {
    EXPECT_EQ(createRecordingName(name, &failure), want);
  }
  EXPECT_EQ(nameWithSuffix("x.y/name", 2), "x.y/name-2");
  EXPECT_EQ(nameWithSuffix(".wav", 4), ".wav-4");
  // A folder in the way is a failure with its reason, not a loop.
  ASSERT_TRUE(test_files::writeFile(dir.file("f"), {}));
  EXPECT_EQ(createRecordingName(dir.file("f/x.wav"), &failure), "");
  EXPECT_FALSE(failure.reason.empty());
}

}  // namespace
