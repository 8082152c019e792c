// End-to-end tests of what a run may do to files: outputs that are refused
// untouched, recordings kept through failures, and runs whose standard
// streams or pipes are closed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/e2e_wav.h"
#include "tests/framed_stream.h"
#include "tests/run_program.h"
#include "tests/scoped_env.h"
#include "tests/test_files.h"

namespace {

using e2e::Bytes;
using run_program::RunOptions;
using run_program::runProgram;
using run_program::RunResult;
using run_program::runShell;
using run_program::shellStatus;
using test_files::readFile;
using test_files::TempDir;
using test_files::writeFile;

using e2e::runHearkener;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class OutputSafetyE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    plan_.data = e2e::patternBytes(40000, 7);
    input_ = dir_.file("in.wav");
    ASSERT_TRUE(writeFile(input_, e2e::buildWav(plan_)));
    original_ = readFile(input_);
  }

  TempDir dir_;
  e2e::WavPlan plan_;
  std::string input_;
  Bytes original_;
};

// Each output is refused before anything is written: status -4, the usage
// line, the reason where the usage line alone would not tell it, and every
// file as it was. None of them blocks.
TEST_F(OutputSafetyE2e, RefusedOutputsAreLeftUntouched) {
  const std::string fifo = dir_.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string hardLink = dir_.file("hard.wav");
  ASSERT_EQ(link(input_.c_str(), hardLink.c_str()), 0);
  const std::string softLink = dir_.file("soft.wav");
  ASSERT_EQ(symlink(input_.c_str(), softLink.c_str()), 0);
  const std::string device = dir_.file("null-device");
  const bool haveDevice =
      mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;

  struct Case {
    const char* name;
    std::string option;
    std::string output;
    std::string reason;
  };
  std::vector<Case> cases = {
      {"fifo", "-F", fifo, ""},
      {"fifo appended to", "-f", fifo, ""},
      {"the input itself", "-F", input_, "is the input file"},
      {"a hard link to the input", "-F", hardLink, "is the input file"},
      {"a symbolic link to the input", "-f", softLink, "is the input file"},
  };
  if (haveDevice) cases.push_back({"a device node", "-F", device, ""});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunOptions options;
    options.timeoutMs = 5000;
    const RunResult run = runHearkener({"-i", input_, c.option, c.output}, options);
    ASSERT_TRUE(run.exited) << (run.timedOut ? "hung" : "killed");
    EXPECT_EQ(run.exitStatus, shellStatus(-4));
    EXPECT_TRUE(contains(run.err, "could not open output file")) << run.err;
    EXPECT_TRUE(contains(run.err, c.reason)) << run.err;
    struct stat info {};
    EXPECT_EQ(lstat(c.output.c_str(), &info), 0) << "removed";
    EXPECT_EQ(readFile(input_), original_);
  }
  struct stat info {};
  EXPECT_EQ(lstat(softLink.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
}

// A name is shown once, in UTF-8 as the locale asks, and on one line: its
// line feed is escaped, not written. Both the messages of the run and the
// usage printer's.
TEST_F(OutputSafetyE2e, ANameInAMessageIsShownOnceOnOneLine) {
  const test_env::ScopedEnv utf8("LC_ALL", "C.UTF-8");
  const std::string name = dir_.file("\xC3\x84\nin.wav");
  ASSERT_TRUE(writeFile(name, readFile(input_)));
  const std::string shown = dir_.file("\xC3\x84\\nin.wav");
  const struct {
    std::vector<std::string> args;
    std::string firstLine;
  } cases[] = {
      {{"-i", name, "-F", name}, "output file " + shown + " is the input file\n"},
      {{name}, std::string(e2e::hearkenerExe()) + ": illegal argument: " + shown + "\n"},
  };
  for (const auto& c : cases) {
    const RunResult run = runHearkener(c.args);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.err.substr(0, c.firstLine.size()), c.firstLine) << run.err;
    EXPECT_EQ(run.err.find("\xC3\x84"), run.err.rfind("\xC3\x84")) << run.err;
  }
}

// A recording another run is writing is never written by a second one.
TEST_F(OutputSafetyE2e, ASecondRunOnTheSameOutputIsRefused) {
  const std::string out = dir_.file("shared.wav");
  const Bytes earlier = e2e::recordingOf(e2e::patternBytes(3000, 1));
  ASSERT_TRUE(writeFile(out, earlier));
  const int held = open(out.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  for (const char* option : {"-f", "-F"}) {
    SCOPED_TRACE(option);
    const RunResult run = runHearkener({"-i", input_, option, out});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitStatus, shellStatus(-4));
    EXPECT_TRUE(contains(run.err, "output file " + out + " is in use by another run"))
        << run.err;
    EXPECT_EQ(readFile(out), earlier);
  }
  close(held);
  const RunResult run = runHearkener({"-i", input_, "-f", out});
  EXPECT_EQ(run.exitStatus, 0) << run.err;
}

// A failed run that recorded nothing removes the file it made (whatever
// bytes its name holds), but never a link that led to it.
TEST_F(OutputSafetyE2e, AFailedRunRemovesOnlyARegularFileItMade) {
  RunOptions noRoom;
  noRoom.fileSizeLimit = 58;  // the header fits, no audio does
  const std::string out = dir_.file("made\xff\xfe.wav");
  RunResult run = runHearkener({"-i", input_, "-F", out}, noRoom);
  EXPECT_EQ(run.exitStatus, shellStatus(-4));
  EXPECT_FALSE(test_files::fileExists(out));

  const std::string target = dir_.file("target.wav");
  ASSERT_TRUE(writeFile(target, e2e::recordingOf(e2e::patternBytes(100, 2))));
  const std::string viaLink = dir_.file("link.wav");
  ASSERT_EQ(symlink(target.c_str(), viaLink.c_str()), 0);
  run = runHearkener({"-i", input_, "-F", viaLink}, noRoom);
  EXPECT_EQ(run.exitStatus, shellStatus(-4));
  struct stat info {};
  EXPECT_EQ(lstat(viaLink.c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
}

// A closed pipe on standard error and the file size limit end no run by a
// signal: the recording is complete and can be appended to again.
TEST_F(OutputSafetyE2e, ClosedPipeAndFileSizeLimitLeaveACompleteRecording) {
  const std::string out = dir_.file("r.wav");
  const RunResult run = runShell("ulimit -f 40; '" + std::string(e2e::hearkenerExe()) +
                                 "' -i '" + input_ + "' -f '" + out +
                                 "' 2>&1 | true; exit 0");
  ASSERT_TRUE(run.exited);
  const Bytes bytes = readFile(out);
  ASSERT_GT(bytes.size(), 58u);
  const size_t audio = bytes.size() - 58;
  EXPECT_EQ(audio % 2, 0u);
  EXPECT_EQ(e2e::difference(bytes, e2e::recordingOf(Bytes(
                                       plan_.data.begin(),
                                       plan_.data.begin() + static_cast<long>(audio)))),
            "");
  const RunResult again = runHearkener({"-i", input_, "-f", out});
  EXPECT_EQ(again.exitStatus, 0) << again.err;
}

// With the standard streams closed at start, the program's own files must
// not take their numbers: console lines never end up inside the recording.
TEST_F(OutputSafetyE2e, ClosedStandardStreamsNeverReceiveTheRecording) {
  framed::Bytes stream;
  Bytes audio;
  for (int f = 0; f < 20; ++f) {
    const framed::Bytes payload(160, static_cast<uint8_t>(0x10 + f));
    for (uint8_t d = 0; d < 2; ++d) {
      framed::appendFrame(stream, framed::controlFrame(d, 2, payload), 6);
    }
    // A frame with a wrong check: one console line each.
    stream.insert(stream.end(), {0xFF, 0x12, 0x34, 0x56});
    for (uint8_t b : payload) audio.insert(audio.end(), {b, b});
  }
  framed::finish(stream);
  e2e::WavPlan plan;
  plan.tag = 0xF000;
  plan.channels = 1;
  plan.data = Bytes(stream.begin(), stream.end());
  const std::string in = dir_.file("framed.wav");
  ASSERT_TRUE(writeFile(in, e2e::buildWav(plan)));
  const std::string out = dir_.file("o.wav");
  const RunResult run = runShell("'" + std::string(e2e::hearkenerExe()) + "' -i '" +
                                 in + "' -F '" + out + "' <&- >&- 2>&-");
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(e2e::difference(readFile(out), e2e::recordingOf(audio)), "");
}

}  // namespace
