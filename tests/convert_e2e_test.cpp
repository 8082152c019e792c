// End-to-end tests of file conversion: WAV input to the A-law stereo
// recording, created (-F) or appended (-f), and what a failed run leaves.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/e2e_test_names.h"

namespace {

using namespace e2e_names;
using test_files::readFile;
using test_files::writeFile;

Bytes concat(const Bytes& a, const Bytes& b) {
  Bytes out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

Bytes prefix(const Bytes& bytes, size_t length) {
  return Bytes(bytes.begin(),
               bytes.begin() + static_cast<std::ptrdiff_t>(length));
}

class ConvertE2e : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(dir_.path().empty()); }

  // Writes an input WAV and returns its path.
  std::string input(const std::string& name, const e2e::WavPlan& plan) {
    const std::string path = dir_.file(name);
    EXPECT_TRUE(writeFile(path, e2e::buildWav(plan)));
    return path;
  }

  // Runs the program and expects a clean run: status 0, nothing printed.
  void runOk(const std::vector<std::string>& args) {
    const RunResult run = runHearkener(args);
    ASSERT_TRUE(run.exited) << "signal " << run.termSignal;
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, "");
  }

  TempDir dir_;
};

struct FormatCase {
  const char* name;
  uint16_t tag;
  uint16_t channels;
  size_t dataLength;
  bool factChunk;
  std::vector<e2e::ExtraChunk> extraChunks;
};

// Sizes cross the 1024-byte block of the main loop (and, for mono files,
// its 512-byte reads) and end on odd counts.
TEST_F(ConvertE2e, EveryInputFormatGivesTheExactRecording) {
  const e2e::ExtraChunk oddList{"LIST", Bytes{'I', 'N', 'F', 'O', 'I', 'S', 'F',
                                              'T', 3, 0, 0, 0, 'h', 'k', 0}};
  const e2e::ExtraChunk cue{"cue ", Bytes(28, 0)};
  const FormatCase cases[] = {
      {"AlawStereo", e2e::kTagAlaw, 2, 5000, true, {}},
      {"AlawMono", e2e::kTagAlaw, 1, 2601, true, {}},
      {"UlawStereo", e2e::kTagUlaw, 2, 4097, true, {}},
      {"UlawMono", e2e::kTagUlaw, 1, 1537, true, {}},
      {"AlawStereoOneBlock", e2e::kTagAlaw, 2, 1024, true, {}},
      {"UlawMonoOneByte", e2e::kTagUlaw, 1, 1, true, {}},
      {"NoFactChunk", e2e::kTagUlaw, 2, 3000, false, {}},
      {"ChunksBeforeData", e2e::kTagAlaw, 1, 3000, true, {oddList, cue}},
  };
  for (const FormatCase& c : cases) {
    SCOPED_TRACE(c.name);
    e2e::WavPlan plan;
    plan.tag = c.tag;
    plan.channels = c.channels;
    plan.factChunk = c.factChunk;
    plan.extraChunks = c.extraChunks;
    plan.data = e2e::patternBytes(c.dataLength, 7);
    const std::string in = input(std::string(c.name) + ".wav", plan);
    const std::string out = dir_.file(std::string(c.name) + "-out.wav");
    runOk({"-i", in, "-F", out});
    EXPECT_EQ(
        e2e::difference(readFile(out), e2e::recordingOf(e2e::currencyOf(
                                           c.tag, c.channels, plan.data))),
        "");
  }
}

// An input that ends before the length its data chunk declares delivers
// what is there, and the run still ends cleanly.
TEST_F(ConvertE2e, TruncatedInputEndsAtItsLastByte) {
  e2e::WavPlan plan;
  plan.data = e2e::patternBytes(3001);
  plan.overrideDataLength = true;
  plan.declaredDataLength = 10000;
  const std::string in = input("in.wav", plan);
  const std::string out = dir_.file("out.wav");
  runOk({"-i", in, "-F", out});
  EXPECT_EQ(e2e::difference(readFile(out), e2e::recordingOf(plan.data)), "");
}

TEST_F(ConvertE2e, EmptyDataChunkGivesAValidEmptyRecording) {
  for (uint16_t channels : {1, 2}) {
    e2e::WavPlan plan;
    plan.channels = channels;
    const std::string in = input("in.wav", plan);
    const std::string out = dir_.file("out.wav");
    runOk({"-i", in, "-F", out});
    const Bytes recording = readFile(out);
    ASSERT_EQ(recording.size(), 58u);
    EXPECT_EQ(test_files::le32At(recording, 4), 50u);
    EXPECT_EQ(test_files::le32At(recording, 46), 0u);
    EXPECT_EQ(test_files::le32At(recording, 54), 0u);
    EXPECT_EQ(e2e::difference(recording, e2e::recordingOf(Bytes())), "");
  }
}

TEST_F(ConvertE2e, CreateReplacesAnExistingFile) {
  e2e::WavPlan plan;
  plan.data = e2e::patternBytes(16000);
  const std::string in = input("in.wav", plan);
  const std::string out = dir_.file("out.wav");
  ASSERT_TRUE(writeFile(out, e2e::recordingOf(e2e::patternBytes(50000, 9))));
  runOk({"-i", in, "-F", out});
  const Bytes recording = readFile(out);
  EXPECT_EQ(recording.size(), 16058u);
  EXPECT_EQ(e2e::difference(recording, e2e::recordingOf(plan.data)), "");
}

TEST_F(ConvertE2e, AppendContinuesBehindTheExistingAudio) {
  e2e::WavPlan first;
  first.data = e2e::patternBytes(16000, 1);
  e2e::WavPlan second;
  second.tag = e2e::kTagUlaw;
  second.channels = 1;
  second.data = e2e::patternBytes(4000, 2);
  const std::string in1 = input("in1.wav", first);
  const std::string in2 = input("in2.wav", second);
  const std::string out = dir_.file("out.wav");

  runOk({"-i", in1, "-f", out});  // creates it
  EXPECT_EQ(e2e::difference(readFile(out), e2e::recordingOf(first.data)), "");
  runOk({"-i", in2, "-f", out});
  const Bytes both =
      concat(first.data, e2e::currencyOf(e2e::kTagUlaw, 1, second.data));
  const Bytes recording = readFile(out);
  EXPECT_EQ(recording.size(), 58u + 16000u + 8000u);
  EXPECT_EQ(test_files::le32At(recording, 54), 24000u);
  EXPECT_EQ(test_files::le32At(recording, 46), 12000u);
  EXPECT_EQ(e2e::difference(recording, e2e::recordingOf(both)), "");

  runOk({"-i", in1, "-f", out});
  EXPECT_EQ(e2e::difference(readFile(out),
                            e2e::recordingOf(concat(both, first.data))),
            "");
}

// An odd data length ends in half a frame: the append overwrites it, so
// both channels keep their byte positions.
TEST_F(ConvertE2e, AppendAfterAnOddLengthOverwritesTheHalfFrame) {
  e2e::WavPlan odd;
  odd.data = e2e::patternBytes(16001, 1);
  e2e::WavPlan more;
  more.data = e2e::patternBytes(1000, 2);
  const std::string in1 = input("odd.wav", odd);
  const std::string in2 = input("more.wav", more);
  const std::string out = dir_.file("out.wav");
  runOk({"-i", in1, "-F", out});
  const Bytes first = readFile(out);
  ASSERT_EQ(first, e2e::recordingOf(odd.data));
  EXPECT_EQ(test_files::le32At(first, 46), 8000u);  // rounded down
  runOk({"-i", in2, "-f", out});
  EXPECT_EQ(e2e::difference(
                readFile(out),
                e2e::recordingOf(concat(prefix(odd.data, 16000), more.data))),
            "");
}

TEST_F(ConvertE2e, AppendToAnEmptyFileWritesAFreshRecording) {
  e2e::WavPlan plan;
  plan.data = e2e::patternBytes(3000);
  const std::string in = input("in.wav", plan);
  const std::string out = dir_.file("out.wav");
  ASSERT_TRUE(writeFile(out, Bytes()));
  runOk({"-i", in, "-f", out});
  EXPECT_EQ(e2e::difference(readFile(out), e2e::recordingOf(plan.data)), "");
}

TEST_F(ConvertE2e, LastOutputOptionWinsNameAndMode) {
  e2e::WavPlan plan;
  plan.data = e2e::patternBytes(2000, 1);
  const std::string in = input("in.wav", plan);
  const std::string a = dir_.file("a.wav");
  const std::string b = dir_.file("b.wav");
  const Bytes earlier = e2e::recordingOf(e2e::patternBytes(1000, 2));
  ASSERT_TRUE(writeFile(b, earlier));

  runOk({"-i", in, "-F", a, "-f", b});  // appends to b; a is never touched
  EXPECT_FALSE(test_files::fileExists(a));
  EXPECT_EQ(
      e2e::difference(readFile(b), e2e::recordingOf(concat(
                                       e2e::patternBytes(1000, 2), plan.data))),
      "");

  ASSERT_TRUE(writeFile(b, earlier));
  runOk({"-i", in, "-f", b, "-F", a});  // creates a; b stays as it was
  EXPECT_EQ(e2e::difference(readFile(a), e2e::recordingOf(plan.data)), "");
  EXPECT_EQ(e2e::difference(readFile(b), earlier), "");

  runOk({"-i", in, "-F", b, "-F", a});  // -F twice: the last name wins
  EXPECT_EQ(e2e::difference(readFile(b), earlier), "");
  EXPECT_EQ(e2e::difference(readFile(a), e2e::recordingOf(plan.data)), "");
}

// A write that fails part-way (here: the file size limit) ends the run with
// -4, but what reached the file stays a complete recording: cut to whole
// frames, header patched, a recording appended to kept in front of it. The
// failure and the kept recording each get a line.
TEST_F(ConvertE2e, FailedWriteKeepsTheRecordedAudio) {
  e2e::WavPlan big;
  big.data = e2e::patternBytes(300000, 1);
  const std::string in = input("in.wav", big);
  RunOptions limited;
  limited.fileSizeLimit = 100000;
  const size_t audioLength = (100000 - 58) & ~size_t{1};

  struct Case {
    const char* name;
    const char* option;
    bool exists;
    Bytes before;
    size_t keptBefore;  // audio bytes of `before` the run continues
  };
  // An odd data length followed by its pad byte, as other tools write it.
  Bytes padded = e2e::recordingOf(e2e::patternBytes(20001, 5));
  padded.push_back(0x7E);
  const uint32_t riffSize = test_files::le32At(padded, 4) + 1;
  for (size_t i = 0; i < 4; ++i)
    padded[4 + i] = static_cast<uint8_t>(riffSize >> (8 * i));
  const std::vector<Case> cases = {
      {"AppendToRecording", "-f", true,
       e2e::recordingOf(e2e::patternBytes(20000, 2)), 20000},
      {"AppendToOddRecording", "-f", true,
       e2e::recordingOf(e2e::patternBytes(20001, 3)), 20000},
      {"AppendToPaddedRecording", "-f", true, padded, 20000},
      {"AppendToEmptyFile", "-f", true, Bytes(), 0},
      {"AppendCreates", "-f", false, Bytes(), 0},
      {"Create", "-F", false, Bytes(), 0},
      {"CreateReplacing", "-F", true,
       e2e::recordingOf(e2e::patternBytes(2000, 4)), 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = dir_.file(std::string(c.name) + ".wav");
    if (c.exists) {
      ASSERT_TRUE(writeFile(out, c.before));
    }
    const RunResult run = runHearkener({"-i", in, c.option, out}, limited);
    ASSERT_TRUE(run.exited) << "signal " << run.termSignal;
    EXPECT_EQ(run.exitStatus, shellStatus(-4));
    EXPECT_NE(run.err.find("could not write output file " + out), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("kept recording " + out), std::string::npos)
        << run.err;
    Bytes audio(c.before.begin() + (c.keptBefore ? 58 : 0),
                c.before.begin() + (c.keptBefore ? 58 + c.keptBefore : 0));
    audio = concat(audio, prefix(big.data, audioLength - c.keptBefore));
    EXPECT_EQ(e2e::difference(readFile(out), e2e::recordingOf(audio)), "");
  }
}

// Large recordings: one of almost 2 GiB is continued at its end. One so
// close to 4 GiB that the appended audio cannot fit the 32-bit sizes of the
// header is filled to the limit and the run ends with -4. Both files are
// sparse: only their first and last blocks take space.
TEST_F(ConvertE2e, LargeRecordingsAreContinuedOrLeftUntouched) {
  e2e::WavPlan plan;
  plan.data = e2e::patternBytes(3000, 1);
  const std::string in = input("in.wav", plan);
  const Bytes tail = e2e::patternBytes(4096, 2);

  {
    const uint64_t data = 0x7FFFF000u;  // just under 2 GiB, even
    const std::string out = dir_.file("under2g.wav");
    ASSERT_TRUE(e2e::writeSparseWav(out, e2e::kTagAlaw, 2, data, tail));
    runOk({"-i", in, "-f", out});
    const uint64_t length = 58 + data + plan.data.size();
    ASSERT_EQ(e2e::fileSize(out), static_cast<int64_t>(length));
    const Bytes header = e2e::readRange(out, 0, 58);
    EXPECT_EQ(header, e2e::recordingHeader(data + plan.data.size()));
    EXPECT_EQ(e2e::difference(e2e::readRange(out, 58 + data - tail.size(),
                                             tail.size() + 3000),
                              concat(tail, plan.data)),
              "");
    std::remove(out.c_str());
  }
  {
    // Room for the first block of the main loop, not for the second: the
    // recording is filled to the limit, left complete and kept.
    const uint64_t data = (0xFFFFFFFFull - 58 - 1500) & ~1ull;
    const std::string out = dir_.file("near4g.wav");
    ASSERT_TRUE(e2e::writeSparseWav(out, e2e::kTagAlaw, 2, data, tail));
    const RunResult run = runHearkener({"-i", in, "-f", out});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitStatus, shellStatus(-4));
    EXPECT_NE(run.err.find("reached the 4 GiB size limit"), std::string::npos)
        << run.err;
    const uint64_t audio = 0xFFFFFFFFull - 58 - 1;  // whole frames only
    ASSERT_EQ(e2e::fileSize(out), static_cast<int64_t>(58 + audio));
    EXPECT_EQ(e2e::readRange(out, 0, 58), e2e::recordingHeader(audio));
    EXPECT_EQ(e2e::difference(
                  e2e::readRange(out, 58 + data - tail.size(),
                                 static_cast<size_t>(audio - data) + tail.size()),
                  concat(tail, prefix(plan.data, static_cast<size_t>(audio - data)))),
              "");
    std::remove(out.c_str());
  }
}

}  // namespace
