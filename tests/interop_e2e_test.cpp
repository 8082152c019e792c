// End-to-end tests against real peers: recordings the program writes must
// open in sox and ffprobe, and A-law and u-law WAV files written by sox and
// ffmpeg must convert to exactly the audio those tools put in them.
// Skipped where a tool is not installed.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e_test_names.h"

namespace {

using namespace e2e_names;
using run_program::runShell;
using run_program::toolAvailable;
using test_files::readFile;

std::string quoted(const std::string& text) { return "'" + text + "'"; }

// Runs a shell command that must succeed; returns its standard output.
std::string mustRun(const std::string& commandLine) {
  const RunResult run = runShell(commandLine);
  EXPECT_TRUE(run.exited && run.exitStatus == 0) << commandLine << "\n"
                                                 << run.err;
  return run.out;
}

void convert(const std::vector<std::string>& args) {
  std::vector<std::string> argv{e2e::hearkenerExe()};
  argv.insert(argv.end(), args.begin(), args.end());
  const RunResult run = runProgram(argv);
  ASSERT_TRUE(run.exited);
  ASSERT_EQ(run.exitStatus, 0) << run.err;
  ASSERT_EQ(run.err, "");
}

// The value of "Key : value" in `sox --i` output, or "".
std::string soxInfo(const std::string& info, const std::string& key) {
  size_t at = info.find(key);
  if (at == std::string::npos) return "";
  at = info.find(": ", at);
  if (at == std::string::npos) return "";
  const size_t end = info.find('\n', at);
  return info.substr(at + 2, end - at - 2);
}

// The audio bytes of a WAV file as ffmpeg reads them, copied unchanged.
Bytes peerAudio(const std::string& path, uint16_t tag) {
  const std::string out =
      mustRun("ffmpeg -nostdin -v error -i " + quoted(path) + " -c:a copy -f " +
              (tag == e2e::kTagUlaw ? "mulaw" : "alaw") + " -");
  return Bytes(out.begin(), out.end());
}

bool contains(const Bytes& bytes, const std::string& text) {
  return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) !=
         bytes.end();
}

class InteropE2e : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    for (const char* tool : {"sox", "ffmpeg", "ffprobe"}) {
      if (!toolAvailable(tool)) GTEST_SKIP() << tool << " is not installed";
    }
  }
  TempDir dir_;
};

TEST_F(InteropE2e, RecordingOpensInSoxAndFfprobe) {
  const std::string in = dir_.file("call.wav");
  const std::string out = dir_.file("out.wav");
  const RunResult made = runProgram(
      {e2e::makeTestCallExe(), in, "--ulaw", "--mono", "--seconds", "2"});
  ASSERT_TRUE(made.exited && made.exitStatus == 0) << made.err;
  convert({"-i", in, "-F", out});

  const std::string info = mustRun("sox --i " + quoted(out));
  EXPECT_EQ(soxInfo(info, "Channels"), "2");
  EXPECT_EQ(soxInfo(info, "Sample Rate"), "8000");
  EXPECT_EQ(soxInfo(info, "Sample Encoding"), "8-bit A-law");
  EXPECT_EQ(mustRun("sox --i -s " + quoted(out)), "16000\n");
  EXPECT_EQ(
      mustRun("ffprobe -v error -show_entries "
              "stream=codec_name,sample_rate,channels,duration -of "
              "default=noprint_wrappers=1 " +
              quoted(out)),
      "codec_name=pcm_alaw\nsample_rate=8000\nchannels=2\nduration=2.000000\n");

  // sox decodes exactly the audio that was written.
  const std::string decoded =
      mustRun("sox " + quoted(out) + " -t raw -e a-law -");
  const Bytes recording = readFile(out);
  ASSERT_GT(recording.size(), e2e::kRecordingHeaderLength);
  EXPECT_EQ(
      e2e::difference(Bytes(decoded.begin(), decoded.end()),
                      Bytes(recording.begin() + e2e::kRecordingHeaderLength,
                            recording.end())),
      "");

  // An append run extends what the peers see.
  const std::string more = dir_.file("more.wav");
  mustRun("sox -n -r 8000 -c 2 -e a-law " + quoted(more) + " synth 1 sine 440");
  convert({"-i", more, "-f", out});
  EXPECT_EQ(mustRun("sox --i -s " + quoted(out)), "24000\n");
  EXPECT_EQ(mustRun("ffprobe -v error -show_entries stream=duration -of "
                    "default=noprint_wrappers=1 " +
                    quoted(out)),
            "duration=3.000000\n");
}

struct PeerCase {
  const char* name;
  uint16_t tag;
  uint16_t channels;
  // Shell command that writes the peer's file to $F (and may use $SRC, a
  // 16-bit mono sweep).
  const char* command;
  const char* mustContain;  // a chunk id the peer's file must have, or ""
};

// Has a peer write a file, then checks that the program delivers exactly the
// audio in it (as ffmpeg copies it out unchanged).
void checkPeerFile(const TempDir& dir, const PeerCase& c) {
  const std::string src = dir.file("src.wav");
  const std::string file = dir.file(std::string(c.name) + ".wav");
  const std::string out = dir.file(std::string(c.name) + "-out.wav");
  if (std::string(c.command).find("espeak-ng") != std::string::npos &&
      !toolAvailable("espeak-ng")) {
    return;  // optional: only this case needs it
  }
  if (!test_files::fileExists(src)) {
    mustRun("sox -n -r 8000 -c 1 -b 16 " + quoted(src) +
            " synth 1.1 sine 300-3000");
  }
  mustRun("SRC=" + quoted(src) + " F=" + quoted(file) + "; " + c.command);
  const Bytes peer = readFile(file);
  ASSERT_FALSE(peer.empty());
  if (*c.mustContain != '\0') {
    ASSERT_TRUE(contains(peer, c.mustContain))
        << "the peer wrote no " << c.mustContain;
  }
  const Bytes audio = peerAudio(file, c.tag);
  ASSERT_GT(audio.size(), 1000u);

  convert({"-i", file, "-F", out});
  EXPECT_EQ(e2e::difference(readFile(out), e2e::recordingOf(e2e::currencyOf(
                                               c.tag, c.channels, audio))),
            "");
}

TEST_F(InteropE2e, SoxFilesConvertToTheirAudio) {
  const PeerCase cases[] = {
      {"AlawStereo", e2e::kTagAlaw, 2,
       "sox -n -r 8000 -c 2 -e a-law \"$F\" synth 1.3 sine 440 sine 660",
       "fact"},
      // An odd data length, with its pad byte.
      {"AlawMonoOddLength", e2e::kTagAlaw, 1,
       "sox -n -r 8000 -c 1 -e a-law \"$F\" synth 0.7771 whitenoise", "fact"},
      {"UlawStereo", e2e::kTagUlaw, 2, "sox \"$SRC\" -c 2 -e u-law \"$F\"",
       "fact"},
      {"UlawMonoSpeech", e2e::kTagUlaw, 1,
       "espeak-ng --stdout 'This is a test call.' | "
       "sox -t wav - -r 8000 -c 1 -e u-law \"$F\"",
       ""},
  };
  for (const PeerCase& c : cases) {
    SCOPED_TRACE(c.name);
    checkPeerFile(dir_, c);
  }
}

TEST_F(InteropE2e, FfmpegFilesConvertToTheirAudio) {
  const PeerCase cases[] = {
      {"AlawStereo", e2e::kTagAlaw, 2,
       "ffmpeg -nostdin -v error -i \"$SRC\" -fflags +bitexact -ac 2 "
       "-c:a pcm_alaw \"$F\"",
       ""},
      {"AlawMono", e2e::kTagAlaw, 1,
       "ffmpeg -nostdin -v error -i \"$SRC\" -fflags +bitexact "
       "-c:a pcm_alaw \"$F\"",
       ""},
      {"UlawStereo", e2e::kTagUlaw, 2,
       "ffmpeg -nostdin -v error -i \"$SRC\" -fflags +bitexact -ac 2 "
       "-c:a pcm_mulaw \"$F\"",
       ""},
      {"UlawMono", e2e::kTagUlaw, 1,
       "ffmpeg -nostdin -v error -i \"$SRC\" -fflags +bitexact "
       "-c:a pcm_mulaw \"$F\"",
       ""},
      // Without bitexact ffmpeg puts a LIST chunk before the data.
      {"UlawStereoWithListChunk", e2e::kTagUlaw, 2,
       "ffmpeg -nostdin -v error -i \"$SRC\" -ac 2 -c:a pcm_mulaw \"$F\"",
       "LIST"},
  };
  for (const PeerCase& c : cases) {
    SCOPED_TRACE(c.name);
    checkPeerFile(dir_, c);
  }
}

}  // namespace
