// The WAV sink under failing file operations: each step of a recording's
// life fails in turn, for a new recording and for an append, and the file
// left behind must be a recording holding every whole frame that reached
// it, which a later append continues without loss, or, when none did, no
// trace of the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/console_capture.h"
#include "tests/test_files.h"
#include "wav/wav_file_sink.h"

namespace {

using test_files::Bytes;
using test_files::le32At;
using test_files::readFile;

enum class Op { kHeaderWrite, kAudioWrite, kRead, kTruncate, kClose };

struct Fault {
  Op op;
  int nth;  // the nth call of this kind fails, counting from 1
  int error;
  size_t reaches = 0;  // writes: the bytes that still reach the file
};

// Passes every call on to the real file, except those its faults name.
class FaultyFileIo final : public WavFileIo {
 public:
  FaultyFileIo(WavFileIo* file, std::vector<Fault> faults)
      : file_(file), faults_(std::move(faults)) {}

  int64_t length() override { return file_->length(); }
  bool readAt(uint64_t offset, void* bytes, size_t size) override {
    return hit(Op::kRead) == nullptr && pass(file_->readAt(offset, bytes, size));
  }
  bool writeAt(uint64_t offset, const void* bytes, size_t size,
               size_t* written) override {
    const Fault* fault = hit(offset == 0 ? Op::kHeaderWrite : Op::kAudioWrite);
    if (fault == nullptr) return pass(file_->writeAt(offset, bytes, size, written));
    size_t done = 0;
    if (fault->reaches > 0) {
      EXPECT_TRUE(file_->writeAt(offset, bytes, std::min(size, fault->reaches), &done));
    }
    if (written != nullptr) *written = done;
    return false;
  }
  bool truncate(uint64_t length) override {
    return hit(Op::kTruncate) == nullptr && pass(file_->truncate(length));
  }
  bool close() override {
    const bool closed = pass(file_->close());
    return hit(Op::kClose) == nullptr && closed;
  }
  int lastError() const override { return error_; }

 private:
  const Fault* hit(Op op) {
    const int call = ++calls_[op];
    for (const Fault& fault : faults_) {
      if (fault.op == op && fault.nth == call) {
        error_ = fault.error;
        return &fault;
      }
    }
    return nullptr;
  }
  bool pass(bool ok) {
    if (!ok) error_ = file_->lastError();
    return ok;
  }

  WavFileIo* file_;
  std::vector<Fault> faults_;
  std::map<Op, int> calls_;
  int error_ = 0;
};

Bytes pattern(size_t length, uint8_t seed) {
  Bytes bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 13);
  return bytes;
}

// Opens, writes `audio` in 1000-byte blocks and closes; the close result,
// or -100 when the sink did not open.
Result record(const std::string& path, int32_t append, const Bytes& audio,
              const std::vector<Fault>& faults, WavSinkRun* run,
              Failure* failure = nullptr) {
  WavSinkOptions options;
  options.append = append;
  options.wrapFile = [&](WavFileIo* file) {
    return std::make_unique<FaultyFileIo>(file, faults);
  };
  auto sink = openWavFileSinkChecked(path.c_str(), options, run, nullptr,
                                     nullptr, failure);
  if (sink == nullptr) return -100;
  for (size_t at = 0; at < audio.size(); at += 1000) {
    const size_t length = std::min<size_t>(1000, audio.size() - at);
    (void)sink->write(audio.data() + at, static_cast<int32_t>(length));
  }
  const Result closed = sink->close();
  sink.reset();
  return closed;
}

// The file holds exactly `audio` behind a header of ours that counts its
// first `counted` bytes.
void expectRecording(const Bytes& file, const Bytes& audio, size_t counted) {
  ASSERT_GE(file.size(), 58u);
  EXPECT_EQ(Bytes(file.begin() + 58, file.end()), audio);
  EXPECT_EQ(le32At(file, 4), 50 + counted);
  EXPECT_EQ(le32At(file, 46), counted / 2);
  EXPECT_EQ(le32At(file, 54), counted);
}

TEST(WavFileSinkFaultTest, EveryFailingStepLeavesARecordingOfWhatReachedTheFile) {
  // 2.5 s of audio. The header is brought up to date when the file reaches
  // 16 KiB and 32 KiB, after 16326 and 32710 bytes of the run (also behind
  // the prior recording of 16 KiB); the rest is written at close.
  const Bytes prior = pattern(16384, 1);
  const Bytes audio = pattern(40000, 7);
  enum Modes { kNew = 1, kAppend = 2, kBoth = 3 };
  struct Case {
    const char* name;
    int modes;
    std::vector<Fault> faults;  // header writes counted as in a new recording
    std::vector<std::pair<const char*, int>> lines;  // what, errno
    size_t inFile;   // bytes of the run in the file; -1: the sink did not open
    size_t counted;  // of them counted by the header
  };
  const Case cases[] = {
      {"creation header", kNew, {{Op::kHeaderWrite, 1, ENOSPC, 20}},
       {{"write", ENOSPC}}, size_t(-1), 0},
      {"header read", kAppend, {{Op::kRead, 1, EIO}},
       {{"read", EIO}}, size_t(-1), 0},
      {"first update's audio", kBoth, {{Op::kAudioWrite, 1, ENOSPC}},
       {{"write", ENOSPC}}, 0, 0},
      {"second update's audio, cut short", kBoth,
       {{Op::kAudioWrite, 2, EIO, 1001}}, {{"write", EIO}}, 17326, 17326},
      {"close's audio", kBoth, {{Op::kAudioWrite, 3, ENOSPC, 4000}},
       {{"write", ENOSPC}}, 36710, 36710},
      {"header update", kBoth, {{Op::kHeaderWrite, 2, EIO}},
       {{"update the header of", EIO}}, 16326, 16326},
      {"final header patch", kBoth, {{Op::kHeaderWrite, 4, ENOSPC}},
       {{"update the header of", ENOSPC}}, 40000, 32710},
      {"truncate to the last whole frame", kBoth,
       {{Op::kAudioWrite, 2, ENOSPC, 999}, {Op::kTruncate, 1, EIO}},
       {{"write", ENOSPC}, {"truncate", EIO}}, 17325, 17324},
      {"close", kBoth, {{Op::kClose, 1, EIO}}, {{"close", EIO}}, 40000, 40000},
  };
  test_console::ScopedLocaleEnv locale("C");
  test_files::TempDir dir;
  for (const Case& c : cases) {
    for (const int mode : {kNew, kAppend}) {
      if ((c.modes & mode) == 0) continue;
      SCOPED_TRACE(std::string(c.name) + (mode == kAppend ? ", append" : ", new"));
      const std::string path = dir.file("fault.wav");
      std::remove(path.c_str());
      const Bytes before = mode == kAppend ? prior : Bytes();
      if (mode == kAppend) {
        ASSERT_EQ(record(path, 0, prior, {}, nullptr), 0);
      }
      const Bytes original = readFile(path);
      // An append writes no creation header.
      std::vector<Fault> faults = c.faults;
      for (Fault& fault : faults) {
        if (mode == kAppend && fault.op == Op::kHeaderWrite) --fault.nth;
      }
      WavSinkRun run;
      test_console::StderrCapture capture;
      Failure failure;
      const Result closed =
          record(path, mode == kAppend, audio, faults, &run, &failure);
      // A refused open hands its reason back; a run's failures are printed.
      std::string expectedLines;
      for (const auto& [what, error] : c.lines) {
        if (c.inFile == size_t(-1)) {
          EXPECT_EQ(failure.object, path);
          EXPECT_EQ(failure.reason, strerror(error));
          continue;
        }
        expectedLines += std::string("could not ") + what + " output file " +
                         path + " (" + strerror(error) + ")\n";
      }
      std::string lines = capture.text();  // "\r\n" on Windows
      lines.erase(std::remove(lines.begin(), lines.end(), '\r'), lines.end());
      EXPECT_EQ(lines, expectedLines);
      if (c.inFile == size_t(-1)) {
        EXPECT_EQ(closed, -100);
        EXPECT_EQ(test_files::fileExists(path), mode == kAppend);
        EXPECT_EQ(readFile(path), original);
        continue;
      }
      EXPECT_EQ(closed, kResultWavOutput);
      EXPECT_EQ(run.audioWritten, c.inFile & ~size_t{1});
      if (c.inFile == 0) {
        // Nothing of the run stays: no trace of it either.
        EXPECT_EQ(test_files::fileExists(path), mode == kAppend);
        if (mode == kAppend) {
          EXPECT_EQ(readFile(path), original);
        }
        continue;
      }
      Bytes reached = before;
      reached.insert(reached.end(), audio.begin(), audio.begin() + c.inFile);
      expectRecording(readFile(path), reached, before.size() + c.counted);
      // What the header does not count yet is continued, never lost.
      const Bytes more = {0xC1, 0xC2};
      ASSERT_EQ(record(path, 1, more, {}, nullptr), 0);
      reached.resize(reached.size() & ~size_t{1});
      reached.insert(reached.end(), more.begin(), more.end());
      expectRecording(readFile(path), reached, reached.size());
    }
  }
}

}  // namespace
