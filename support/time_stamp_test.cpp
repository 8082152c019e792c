// Local time stamps under fixed time zones and fixed clocks.
#include "support/time_stamp.h"

#include <gtest/gtest.h>
#include <time.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "tests/scoped_env.h"

namespace {

// Sets TZ for the test and puts the old value back afterwards.
class FixedZone {
 public:
  explicit FixedZone(const char* zone) {
    const char* old = std::getenv("TZ");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    test_env::setVariable("TZ", zone);
    tzset();
  }
  ~FixedZone() {
    if (hadOld_) {
      test_env::setVariable("TZ", old_.c_str());
    } else {
      test_env::removeVariable("TZ");
    }
    tzset();
  }

 private:
  bool hadOld_ = false;
  std::string old_;
};

TEST(TimeStampTest, FormatsLocalTimeAsYymmddHhmmss) {
  struct Case {
    const char* zone;
    int64_t seconds;
    const char* stamp;
  };
  const Case cases[] = {
      {"UTC0", 1796582712, "261206-184512"},   // 2026-12-06 18:45:12 UTC
      {"UTC0", 946684800, "000101-000000"},    // 2000-01-01 00:00:00
      {"UTC0", 946684799, "991231-235959"},    // the second before
      {"CET-1", 1796582712, "261206-194512"},  // one hour east
      {"EST5", 946684800, "991231-190000"},    // five hours west: 1999
      {"UTC0", 0, "700101-000000"},
  };
  for (const Case& c : cases) {
    FixedZone zone(c.zone);
    char buffer[kTimeStampBytes];
    EXPECT_STREQ(c.stamp, localTimeStampAt(c.seconds, buffer))
        << c.zone << " " << c.seconds;
  }
}

TEST(TimeStampTest, FailedConversionReportsAndUsesZeroRecord) {
  FixedZone zone("UTC0");
  char buffer[kTimeStampBytes];
  testing::internal::CaptureStderr();
  localTimeStampAt(INT64_MAX, buffer);
  const std::string message = testing::internal::GetCapturedStderr();
  EXPECT_STREQ("000100-000000", buffer);
  EXPECT_EQ("localtime portable failed on time_t 9223372036854775807\n",
            message);
}

TEST(TimeStampTest, CurrentTimeHasTheStampShape) {
  char buffer[kTimeStampBytes];
  const std::string stamp = localTimeStamp(buffer);
  ASSERT_EQ(13u, stamp.size());
  for (size_t i = 0; i < stamp.size(); ++i) {
    if (i == 6) {
      EXPECT_EQ('-', stamp[i]);
    } else {
      EXPECT_TRUE(stamp[i] >= '0' && stamp[i] <= '9') << stamp;
    }
  }
}

}  // namespace
