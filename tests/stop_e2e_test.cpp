// End-to-end tests of the stop request: SIGINT, SIGTERM and SIGHUP end a
// running conversion promptly with status 0 and a finished recording.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <vector>

#include "tests/e2e_test_names.h"
#include "tests/test_clock.h"

namespace {

using namespace e2e_names;

// Long enough (about 35 hours of audio, just under the 2 GiB a WAV source
// reads) that no build converts it before the signal; sparse, so it takes
// no space and reads fast.
constexpr uint64_t kInputDataLength = 2000000000;
// The stop must end the program well within this, even under sanitizers on
// a loaded machine; it normally takes a few milliseconds.
constexpr double kPromptMs = test_clock::boundMs(1000);

struct StopCase {
  const char* name;
  int signal;
  bool append;       // -f onto an existing recording instead of -F
  bool signalTwice;  // a second signal while the first is being handled
};

// Runs a long conversion, stops it as the case says and checks the result.
void checkStop(const StopCase& c) {
  test_files::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string in = dir.file("long.wav");
  const std::string out = dir.file("out.wav");
  ASSERT_TRUE(e2e::writeSparseWav(in, e2e::kTagAlaw, 2, kInputDataLength));
  const Bytes earlier = e2e::patternBytes(3000, 5);
  if (c.append) {
    ASSERT_TRUE(test_files::writeFile(out, e2e::recordingOf(earlier)));
  }
  const uint64_t earlierLength = c.append ? earlier.size() : 0;

  RunOptions options;
  options.signal = c.signal;
  options.signalDelayMs = 50;
  options.repeatSignalAfterMs = c.signalTwice ? 3 : 0;
  options.timeoutMs = 20000;
  // Only once audio reaches the file is the program surely in its loop (a
  // signal before its listener starts would simply kill it).
  options.signalWhen = [&] {
    return e2e::fileSize(out) >
           static_cast<int64_t>(58 + earlierLength + 65536);
  };
  const RunResult run = runProgram(
      {e2e::hearkenerExe(), "-i", in, c.append ? "-f" : "-F", out}, options);

  ASSERT_FALSE(run.timedOut) << "the program hung";
  ASSERT_TRUE(run.exited) << "ended by signal " << run.termSignal;
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, "");
  ASSERT_GE(run.signalSentMs, 0) << "the signal was never sent";
  EXPECT_LT(run.endedMs - run.signalSentMs, kPromptMs);

  const int64_t length = e2e::fileSize(out);
  ASSERT_GT(length, static_cast<int64_t>(58 + earlierLength));
  const uint64_t audio = static_cast<uint64_t>(length) - 58;
  EXPECT_LT(audio, earlierLength + kInputDataLength)
      << "the run was not interrupted";
  EXPECT_EQ(e2e::readRange(out, 0, 58), e2e::recordingHeader(audio));
  if (c.append) {
    EXPECT_EQ(e2e::difference(e2e::readRange(out, 58, earlier.size()), earlier),
              "");
  }
  // The audio behind what was there before is the input's silence: no
  // header or garbage was written into it.
  const Bytes zeros(65536, 0);
  EXPECT_EQ(e2e::difference(
                e2e::readRange(out, 58 + earlierLength, zeros.size()), zeros),
            "");
  EXPECT_EQ(
      e2e::difference(
          e2e::readRange(out, static_cast<uint64_t>(length) - zeros.size(),
                         zeros.size()),
          zeros),
      "");
}

TEST(StopE2e, EveryStopSignalEndsPromptlyWithAFinishedRecording) {
  const StopCase cases[] = {
      {"Interrupt", SIGINT, false, false},
      {"Terminate", SIGTERM, false, false},
      {"HangUp", SIGHUP, false, false},
      {"InterruptWhileAppending", SIGINT, true, false},
      {"InterruptTwice", SIGINT, false, true},
  };
  for (const StopCase& c : cases) {
    SCOPED_TRACE(c.name);
    checkStop(c);
  }
}

}  // namespace
