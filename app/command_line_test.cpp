#include "app/command_line.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "tests/expected_usage.h"

namespace {

const std::string kUsage = expected_usage::usageOutput("hk", "");

// An argument vector that owns its strings; argv()[0] is "hk".
class Args {
 public:
  explicit Args(std::initializer_list<std::string> args) : strings_{"hk"} {
    strings_.insert(strings_.end(), args);
    for (auto& s : strings_) pointers_.push_back(s.data());
    pointers_.push_back(nullptr);
  }
  Args(const Args&) = delete;
  Args& operator=(const Args&) = delete;
  int argc() const { return static_cast<int>(strings_.size()); }
  char** argv() { return pointers_.data(); }

 private:
  std::vector<std::string> strings_;
  std::vector<char*> pointers_;
};

struct Parsed {
  std::unique_ptr<Args> args;  // the settings point into it
  Result result = 0;
  RunSettings settings;
  std::string stderrText;
};

Parsed parse(std::initializer_list<std::string> args) {
  Parsed parsed;
  parsed.args = std::make_unique<Args>(args);
  testing::internal::CaptureStderr();
  parsed.result = parseCommandLine(parsed.args->argc(), parsed.args->argv(),
                                   &parsed.settings);
  parsed.stderrText = testing::internal::GetCapturedStderr();
  return parsed;
}

TEST(CommandLineTest, PortNumberIsReadLikeAtoi) {
  struct Case {
    const char* text;
    int32_t port;
  };
  const Case cases[] = {
      {"20000", 20000},        {"abc", 0},
      {"", 0},                 {" 42x", 42},
      {"\t\n 7", 7},           {"-5", -5},
      {"+8", 8},               {"- 5", 0},
      {"0x10", 0},             {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"99999999999999999999", INT32_MAX},
      {"-99999999999999999999", INT32_MIN},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(parsePortNumber(c.text), c.port) << '"' << c.text << '"';
  }
}

TEST(CommandLineTest, DefaultsHoldWithoutOptions) {
  const Parsed parsed = parse({});
  EXPECT_EQ(parsed.result, kResultOk);
  EXPECT_STREQ(parsed.settings.host, "localhost");
  EXPECT_EQ(parsed.settings.port, 20000);
  EXPECT_EQ(parsed.settings.queueName, nullptr);
  EXPECT_FALSE(parsed.settings.testMode);
  EXPECT_EQ(parsed.settings.inputMode, InputMode::kAlaw);
  EXPECT_EQ(parsed.settings.inputFile, nullptr);
  EXPECT_EQ(parsed.settings.outputFile, nullptr);
  EXPECT_FALSE(parsed.settings.append);
  EXPECT_TRUE(parsed.settings.statusLine);
  EXPECT_EQ(parsed.stderrText, "");
}

TEST(CommandLineTest, EveryOptionIsTakenAndTheLastOccurrenceWins) {
  const Parsed parsed = parse({"-h", "a", "-p", "1", "-q", "q1", "-i", "in1",
                               "-h", "pbx", "-p", "abc", "-q", "sales", "-t",
                               "-i", "in.wav", "-F", "a.wav", "-f", "b.wav",
                               "--no-status"});
  ASSERT_EQ(parsed.result, kResultOk);
  EXPECT_FALSE(parsed.settings.statusLine);
  EXPECT_STREQ(parsed.settings.host, "pbx");
  EXPECT_EQ(parsed.settings.port, 0);
  EXPECT_STREQ(parsed.settings.queueName, "sales");
  EXPECT_TRUE(parsed.settings.testMode);
  EXPECT_STREQ(parsed.settings.inputFile, "in.wav");
  EXPECT_STREQ(parsed.settings.outputFile, "b.wav");
  EXPECT_TRUE(parsed.settings.append);

  const Parsed create = parse({"-f", "b.wav", "-F", "a.wav"});
  EXPECT_STREQ(create.settings.outputFile, "a.wav");
  EXPECT_FALSE(create.settings.append);
}

TEST(CommandLineTest, InputModeFollowsTheLastModeOption) {
  struct Case {
    std::initializer_list<std::string> args;
    InputMode mode;
  };
  const Case cases[] = {{{"-u"}, InputMode::kUlaw},
                        {{"-r"}, InputMode::kFramedTyped},
                        {{"-a", "-u", "-r"}, InputMode::kFramedTyped},
                        {{"-r", "-u", "-a"}, InputMode::kAlaw},
                        {{"-r", "-u"}, InputMode::kUlaw}};
  for (const auto& c : cases) {
    const Parsed parsed = parse(c.args);
    EXPECT_EQ(parsed.result, kResultOk);
    EXPECT_EQ(parsed.settings.inputMode, c.mode);
  }
}

TEST(CommandLineTest, AValueIsTakenWhateverItLooksLike) {
  const Parsed parsed = parse({"-q", "-t", "-h", "-p"});
  ASSERT_EQ(parsed.result, kResultOk);
  EXPECT_STREQ(parsed.settings.queueName, "-t");
  EXPECT_FALSE(parsed.settings.testMode);
  EXPECT_STREQ(parsed.settings.host, "-p");
}

TEST(CommandLineTest, MissingValuesAreReportedWithTheUsageText) {
  struct Case {
    std::initializer_list<std::string> args;
    const char* message;
  };
  const Case cases[] = {
      {{"-h"}, "missing host name"},
      {{"-p"}, "missing port number"},
      {{"-q"}, "missing queue name"},
      {{"-f"}, "missing file name"},
      {{"-F"}, "missing file name"},
      {{"-i"}, "missing file name"},
      {{"-q", "sales", "-t", "-f"}, "missing file name"},
  };
  for (const auto& c : cases) {
    const Parsed parsed = parse(c.args);
    EXPECT_EQ(parsed.result, kResultCommandLine) << c.message;
    EXPECT_EQ(parsed.stderrText, "hk: " + std::string(c.message) + "\n" + kUsage);
  }
}

TEST(CommandLineTest, UnknownArgumentsAreIllegal) {
  // Parsing stops at the first error: "-x" is reported, not the bare "-h".
  for (const char* arg : {"-s", "-H", "--helpx", "-?-", "-au", "sales", "", "-x"}) {
    const Parsed parsed = parse({"-q", "sales", arg, "-h"});
    EXPECT_EQ(parsed.result, kResultCommandLine) << arg;
    EXPECT_EQ(parsed.stderrText,
              "hk: illegal argument: " + std::string(arg) + "\n" + kUsage);
  }
}

TEST(CommandLineTest, AVeryLongIllegalArgumentIsCut) {
  const std::string arg = "-" + std::string(5000, 'x');
  const Parsed parsed = parse({arg});
  EXPECT_EQ(parsed.result, kResultCommandLine);
  const std::string message = ("illegal argument: " + arg).substr(0, 1023);
  EXPECT_EQ(parsed.stderrText, "hk: " + message + "\n" + kUsage);
}

TEST(CommandLineTest, PrintUsageWritesTheMessageThenTheUsageText) {
  Args args({});
  testing::internal::CaptureStderr();
  EXPECT_EQ(printUsage(args.argv(), -3, "unable to install handler!"), -3);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "hk: unable to install handler!\n" + kUsage);

  testing::internal::CaptureStderr();
  EXPECT_EQ(printUsage(args.argv(), -9, nullptr), -9);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), kUsage);
}

}  // namespace
