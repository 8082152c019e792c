#include "wav/wav_file_sink.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <cstdio>
#include <string>

#include "tests/test_files.h"
#include "wav/wav_header.h"

namespace {

using test_files::Bytes;
using test_files::le32At;
using test_files::putLe32;
using test_files::putText;
using test_files::readFile;
using test_files::TempDir;
using test_files::writeFile;

Bytes pattern(size_t length, uint8_t seed) {
  Bytes bytes(length);
  for (size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<uint8_t>(seed + i * 7);
  }
  return bytes;
}

// A complete WAV file of the given layout holding `audio`, with its sizes
// patched as a finished recording has them.
Bytes makeWav(int32_t formatType, int32_t stereo, const Bytes& audio) {
  FILE* stream = test_files::anonymousTempFile();
  EXPECT_NE(stream, nullptr);
  if (stream == nullptr) return {};
  wavBuildHeader(stream, formatType, stereo, 0);
  if (!audio.empty()) fwrite(audio.data(), 1, audio.size(), stream);
  wavUpdateSizes(stream, formatType, stereo,
                 static_cast<uint32_t>(audio.size() / 2));
  fflush(stream);
  fseek(stream, 0, SEEK_END);
  Bytes bytes(static_cast<size_t>(ftell(stream)));
  rewind(stream);
  EXPECT_EQ(fread(bytes.data(), 1, bytes.size(), stream), bytes.size());
  fclose(stream);
  return bytes;
}

// One run of the sink: open, write `audio` in 1024-byte blocks, close.
// Returns the close result, or -100 when the sink did not open.
Result writeRun(const std::string& path, int32_t append, const Bytes& audio) {
  auto sink = openWavFileSink(path.c_str(), append, nullptr);
  if (sink == nullptr) return -100;
  for (size_t at = 0; at < audio.size(); at += 1024) {
    const int32_t length = static_cast<int32_t>(std::min<size_t>(1024, audio.size() - at));
    EXPECT_EQ(sink->write(audio.data() + at, length), length);
  }
  const Result closed = sink->close();
  sink.reset();
  return closed;
}

// The file is our 58-byte A-law stereo recording of exactly `audio`.
void expectRecording(const std::string& path, const Bytes& audio) {
  const Bytes bytes = readFile(path);
  ASSERT_EQ(bytes.size(), 58 + audio.size());
  Bytes expected = makeWav(kWavFormatAlaw, 1, audio);
  EXPECT_EQ(le32At(bytes, 4), bytes.size() - 8);
  EXPECT_EQ(le32At(bytes, 46), audio.size() / 2);
  EXPECT_EQ(le32At(bytes, 54), audio.size());
  EXPECT_EQ(bytes, expected);
}

TEST(WavFileSinkTest, CreateReplacesTheFileAndPatchesTheHeader) {
  TempDir dir;
  const std::string path = dir.file("out.wav");
  ASSERT_TRUE(writeFile(path, Bytes(100000, 0xEE)));
  const Bytes audio = pattern(16000, 1);
  ASSERT_EQ(writeRun(path, 0, audio), 0);
  expectRecording(path, audio);
  const Bytes bytes = readFile(path);
  EXPECT_EQ(le32At(bytes, 4), 16050u);
  EXPECT_EQ(le32At(bytes, 46), 8000u);
}

TEST(WavFileSinkTest, AppendContinuesBehindTheExistingAudio) {
  TempDir dir;
  const std::string path = dir.file("out.wav");
  const Bytes first = pattern(16000, 1);
  const Bytes second = pattern(8000, 99);
  ASSERT_EQ(writeRun(path, 1, first), 0);  // missing: created
  expectRecording(path, first);
  ASSERT_EQ(writeRun(path, 1, second), 0);
  Bytes both = first;
  both.insert(both.end(), second.begin(), second.end());
  expectRecording(path, both);  // data 24000, fact 12000
}

// Recordings of several write buffers, created and appended to at offsets
// that are not aligned to them, hold every byte in order.
TEST(WavFileSinkTest, LongRunsAcrossManyBuffersKeepEveryByte) {
  TempDir dir;
  const std::string path = dir.file("out.wav");
  const Bytes first = pattern(700002, 3);
  const Bytes second = pattern(900000, 77);
  ASSERT_EQ(writeRun(path, 0, first), 0);
  expectRecording(path, first);
  ASSERT_EQ(writeRun(path, 1, second), 0);
  Bytes both = first;
  both.insert(both.end(), second.begin(), second.end());
  expectRecording(path, both);
}

TEST(WavFileSinkTest, OddTotalRoundsTheFrameCountDownAndAppendOverwritesTheOddByte) {
  TempDir dir;
  const std::string path = dir.file("out.wav");
  const Bytes odd = pattern(16001, 3);
  ASSERT_EQ(writeRun(path, 0, odd), 0);
  Bytes bytes = readFile(path);
  EXPECT_EQ(le32At(bytes, 46), 8000u);
  EXPECT_EQ(le32At(bytes, 54), 16001u);

  WavPriorState prior;
  auto sink = openWavFileSink(path.c_str(), 1, &prior);
  ASSERT_NE(sink, nullptr);
  EXPECT_TRUE(prior.existed);
  EXPECT_EQ(prior.appendOffset, 58u + 16000u);
  const uint8_t more[2] = {0xA1, 0xA2};
  EXPECT_EQ(sink->write(more, 2), 2);
  EXPECT_EQ(sink->close(), 0);
  sink.reset();
  Bytes expected(odd.begin(), odd.begin() + 16000);
  expected.insert(expected.end(), more, more + 2);
  expectRecording(path, expected);
}

TEST(WavFileSinkTest, RunWithoutAudioLeavesAValidEmptyRecording) {
  TempDir dir;
  for (int32_t append : {0, 1}) {
    const std::string path = dir.file("empty" + std::to_string(append) + ".wav");
    ASSERT_EQ(writeRun(path, append, {}), 0);
    const Bytes bytes = readFile(path);
    ASSERT_EQ(bytes.size(), 58u);
    EXPECT_EQ(le32At(bytes, 4), 50u);
    EXPECT_EQ(le32At(bytes, 46), 0u);
    EXPECT_EQ(le32At(bytes, 54), 0u);
  }
}

TEST(WavFileSinkTest, CloseIsIdempotentAndWritesAfterItFail) {
  TempDir dir;
  const std::string path = dir.file("out.wav");
  auto sink = openWavFileSink(path.c_str(), 0, nullptr);
  ASSERT_NE(sink, nullptr);
  const uint8_t bytes[4] = {1, 2, 3, 4};
  EXPECT_EQ(sink->write(bytes, 0), 0);
  EXPECT_EQ(sink->write(bytes, 4), 4);
  EXPECT_EQ(sink->close(), 0);
  EXPECT_FALSE(sink->isOpen());
  EXPECT_EQ(sink->write(bytes, 4), kResultWavOutput);
  EXPECT_EQ(sink->close(), 0);
  sink.reset();
  expectRecording(path, Bytes(bytes, bytes + 4));
}

TEST(WavFileSinkTest, DestroyOfAnOpenSinkPatchesTheHeader) {
  TempDir dir;
  const std::string path = dir.file("out.wav");
  auto sink = openWavFileSink(path.c_str(), 0, nullptr);
  ASSERT_NE(sink, nullptr);
  const Bytes audio = pattern(10, 5);
  EXPECT_EQ(sink->write(audio.data(), 10), 10);
  sink.reset();
  expectRecording(path, audio);
}

TEST(WavFileSinkTest, AppendRefusesWhatIsNotOurRecordingAndLeavesItUntouched) {
  const Bytes audio = pattern(100, 7);
  Bytes unpatched = makeWav(kWavFormatAlaw, 1, audio);
  for (size_t i : {4, 46, 54}) unpatched[i] = unpatched[i + 1] = 0;
  // Our header with a LIST chunk between fact and data.
  Bytes listBeforeData = makeWav(kWavFormatAlaw, 1, {});
  listBeforeData.resize(50);
  putText(listBeforeData, "LIST");
  putLe32(listBeforeData, 4);
  putText(listBeforeData, "INFOdata");
  putLe32(listBeforeData, 100);
  listBeforeData.insert(listBeforeData.end(), audio.begin(), audio.end());
  listBeforeData[4] = static_cast<uint8_t>(listBeforeData.size() - 8);
  // Our recording followed by another chunk.
  Bytes listAfterData = makeWav(kWavFormatAlaw, 1, audio);
  putText(listAfterData, "LIST");
  putLe32(listAfterData, 4);
  putText(listAfterData, "INFO");
  listAfterData[4] = static_cast<uint8_t>(listAfterData.size() - 8);

  struct Case {
    const char* name;
    Bytes bytes;
  };
  // Cut off while being written, but with more audio behind the header's
  // sizes than a second between two header updates leaves.
  Bytes tooFarBehind = makeWav(kWavFormatAlaw, 1, audio);
  const Bytes beyond = pattern(16386, 3);
  tooFarBehind.insert(tooFarBehind.end(), beyond.begin(), beyond.end());
  const Case cases[] = {
      {"short text", Bytes({'n', 'o', 't', ' ', 'a', 'u', 'd', 'i', 'o'})},
      {"more than a second behind the sizes", tooFarBehind},
      {"long non-RIFF", Bytes(500, 'x')},
      {"unpatched header", unpatched},
      {"PCM", makeWav(kWavFormatPcm16, 1, audio)},
      {"u-law", makeWav(kWavFormatUlaw, 1, audio)},
      {"A-law mono", makeWav(kWavFormatAlaw, 0, audio)},
      {"GSM", makeWav(kWavFormatGsm610, 0, audio)},
      {"LIST before data", listBeforeData},
      {"LIST after data", listAfterData},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file("existing.wav");
    ASSERT_TRUE(writeFile(path, c.bytes));
    WavPriorState prior;
    EXPECT_EQ(openWavFileSink(path.c_str(), 1, &prior), nullptr);
    EXPECT_EQ(readFile(path), c.bytes);
  }
}

TEST(WavFileSinkTest, AppendToATruncatedRecordingStartsBehindTheLastWholeFrame) {
  TempDir dir;
  const std::string path = dir.file("cut.wav");
  Bytes bytes = makeWav(kWavFormatAlaw, 1, pattern(1000, 9));
  bytes.resize(58 + 501);  // declares 1000, holds 501
  ASSERT_TRUE(writeFile(path, bytes));
  const Bytes more = {0xB1, 0xB2, 0xB3, 0xB4};
  ASSERT_EQ(writeRun(path, 1, more), 0);
  Bytes expected(bytes.begin() + 58, bytes.begin() + 58 + 500);
  expected.insert(expected.end(), more.begin(), more.end());
  expectRecording(path, expected);
}

// A recording cut off between two header updates: up to 16 KiB of audio
// behind its sizes, which an append keeps up to the last whole frame.
TEST(WavFileSinkTest, AppendContinuesACutOffRecordingBehindItsLastWholeFrame) {
  TempDir dir;
  const std::string path = dir.file("cut.wav");
  const Bytes more = pattern(20000, 8);
  const struct {
    size_t counted;
    size_t behind;
  } cases[] = {
      {32710, 16384},  // killed between the audio and the header update
      {32710, 9999},   // odd: half a frame at the end
      {32700, 16000},  // holds more than its next update point
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.behind);
    Bytes bytes = makeWav(kWavFormatAlaw, 1, pattern(c.counted, 5));
    const Bytes beyond = pattern(c.behind, 6);
    bytes.insert(bytes.end(), beyond.begin(), beyond.end());
    ASSERT_TRUE(writeFile(path, bytes));
    ASSERT_EQ(writeRun(path, 1, more), 0);
    Bytes expected(bytes.begin() + 58, bytes.end() - c.behind % 2);
    expected.insert(expected.end(), more.begin(), more.end());
    expectRecording(path, expected);
  }
}

// Passes every call on to the file, and notes what the file's name holds
// at the moment the run lets go of it.
class ReleaseWatcher final : public WavFileIo {
 public:
  ReleaseWatcher(WavFileIo* file, std::string path)
      : file_(file), path_(std::move(path)) {}
  int64_t length() override { return file_->length(); }
  bool readAt(uint64_t offset, void* bytes, size_t size) override {
    return file_->readAt(offset, bytes, size);
  }
  bool writeAt(uint64_t offset, const void* bytes, size_t size,
               size_t* written) override {
    return file_->writeAt(offset, bytes, size, written);
  }
  bool truncate(uint64_t length) override { return file_->truncate(length); }
  bool close() override {
    if (!released) {
      released = true;
      existedAtRelease = test_files::fileExists(path_);
      if (existedAtRelease) atRelease = readFile(path_);
    }
    return file_->close();
  }
  int lastError() const override { return file_->lastError(); }

  bool released = false;
  bool existedAtRelease = false;
  Bytes atRelease;

 private:
  WavFileIo* file_;
  std::string path_;
};

// How each way of ending a run leaves its file, settled while the file is
// still held: no other run can take the file between the settling and the
// release. A failed run that keeps no whole frame leaves no trace, and one
// that changed nothing has not written to the file at all.
TEST(WavFileSinkTest, ARunSettlesItsFileByHowItEndedBeforeReleasingIt) {
  const Bytes even = makeWav(kWavFormatAlaw, 1, pattern(16000, 11));
  const Bytes odd = makeWav(kWavFormatAlaw, 1, pattern(16001, 11));
  // An odd data length followed by its pad byte.
  Bytes padded = makeWav(kWavFormatAlaw, 1, pattern(15999, 11));
  padded.push_back(0x77);
  padded[4] = static_cast<uint8_t>(padded[4] + 1);
  // Cut off beyond its next update point: the run's first byte brings the
  // header up to date.
  Bytes cutOff = makeWav(kWavFormatAlaw, 1, pattern(16300, 5));
  const Bytes behind = pattern(1000, 6);
  cutOff.insert(cutOff.end(), behind.begin(), behind.end());
  const Bytes audio = pattern(5, 21);
  const Bytes none;
  const Bytes gone = {'-'};  // the file is removed
  struct Case {
    const char* name;
    const Bytes* existing;  // null: no file
    int32_t append;
    size_t written;
    WavRunEnd end;
    Bytes expected;  // `gone`, or the whole file
    bool untouched;
  };
  auto recording = [&](size_t length) {
    return makeWav(kWavFormatAlaw, 1, Bytes(audio.begin(), audio.begin() + length));
  };
  auto appended = [&](const Bytes& original, size_t length) {
    Bytes all(original.begin() + 58, original.end());
    all.insert(all.end(), audio.begin(), audio.begin() + length);
    return makeWav(kWavFormatAlaw, 1, all);
  };
  const Case cases[] = {
      {"new, failed without audio", nullptr, 0, 0, WavRunEnd::kFailed, gone, false},
      {"new, failed with half a frame", nullptr, 1, 1, WavRunEnd::kFailed, gone, false},
      {"emptied, failed", &even, 0, 1, WavRunEnd::kFailed, gone, false},
      {"new, failed", nullptr, 0, 5, WavRunEnd::kFailed, recording(4), false},
      {"new, stopped", nullptr, 0, 5, WavRunEnd::kStopped, recording(4), false},
      {"new, stopped with half a frame", nullptr, 0, 1, WavRunEnd::kStopped, recording(0), false},
      {"new, complete", nullptr, 0, 5, WavRunEnd::kComplete, recording(5), false},
      {"even, failed without audio", &even, 1, 0, WavRunEnd::kFailed, even, true},
      {"even, failed with half a frame", &even, 1, 1, WavRunEnd::kFailed, even, true},
      {"odd, failed with half a frame", &odd, 1, 1, WavRunEnd::kFailed, odd, true},
      {"padded, failed with half a frame", &padded, 1, 1, WavRunEnd::kFailed, padded, true},
      {"cut off, failed with half a frame", &cutOff, 1, 1, WavRunEnd::kFailed, cutOff, false},
      {"empty file, failed", &none, 1, 0, WavRunEnd::kFailed, none, false},
      {"even, failed", &even, 1, 5, WavRunEnd::kFailed, appended(even, 4), false},
      {"even, stopped with half a frame", &even, 1, 1, WavRunEnd::kStopped, even, true},
  };
  TempDir dir;
  const auto longAgo = std::filesystem::file_time_type::clock::now() - std::chrono::hours(24 * 400);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file("settle.wav");
    std::remove(path.c_str());
    // As the file system stores it (Windows: in 100-ns steps).
    std::filesystem::file_time_type before;
    if (c.existing != nullptr) {
      ASSERT_TRUE(writeFile(path, *c.existing));
      std::filesystem::last_write_time(path, longAgo);
      before = std::filesystem::last_write_time(path);
    }
    ReleaseWatcher* watcher = nullptr;
    WavSinkOptions options;
    options.append = c.append;
    options.wrapFile = [&](WavFileIo* file) {
      auto wrapper = std::make_unique<ReleaseWatcher>(file, path);
      watcher = wrapper.get();
      return wrapper;
    };
    auto sink = openWavFileSinkChecked(path.c_str(), options, nullptr, nullptr,
                                       nullptr);
    ASSERT_NE(sink, nullptr);
    EXPECT_EQ(sink->write(audio.data(), static_cast<int32_t>(c.written)),
              static_cast<Result>(c.written));
    sink->setRunEnd(c.end);
    EXPECT_EQ(sink->close(), 0);
    ASSERT_TRUE(watcher->released);
    if (c.expected == gone) {
#ifndef _WIN32  // a file marked for deletion keeps its name until released
      EXPECT_FALSE(watcher->existedAtRelease);
#endif
    } else {
      EXPECT_EQ(watcher->atRelease, c.expected);
    }
    sink.reset();
    EXPECT_EQ(test_files::fileExists(path), c.expected != gone);
    if (c.expected != gone) {
      EXPECT_EQ(readFile(path), c.expected);
    }
    if (c.untouched) {
      EXPECT_EQ(std::filesystem::last_write_time(path), before);
    }
  }
}

TEST(WavFileSinkTest, FileInAMissingFolderCannotBeOpened) {
  TempDir dir;
  const std::string path = dir.file("no/such/folder/out.wav");
  EXPECT_EQ(openWavFileSink(path.c_str(), 0, nullptr), nullptr);
  EXPECT_EQ(openWavFileSink(path.c_str(), 1, nullptr), nullptr);
}

// The header's sizes are 32-bit: the sink fills the file up to the last
// whole frame below 4 GiB, refuses the rest and leaves a valid header.
TEST(WavFileSinkTest, WritesStopAtTheFourGibibyteLimit) {
  TempDir dir;
  const std::string path = dir.file("big.wav");
  const uint64_t initialData = 0xFFFFFF00u;
  const uint64_t initialLength = 58 + initialData;
  {
    FILE* stream = fopen(path.c_str(), "w+b");
    ASSERT_NE(stream, nullptr);
    wavBuildHeader(stream, kWavFormatAlaw, 1, 0);
    fflush(stream);
    const bool sparse =
        ftruncate(fileno(stream), static_cast<off_t>(initialLength)) == 0;
    if (sparse) {
      EXPECT_EQ(wavUpdateSizes(stream, kWavFormatAlaw, 1,
                               static_cast<uint32_t>(initialData / 2)),
                0);
    }
    fclose(stream);
    if (!sparse) GTEST_SKIP() << "no room for a sparse 4 GiB file";
  }
  auto sink = openWavFileSink(path.c_str(), 1, nullptr);
  ASSERT_NE(sink, nullptr);
  const Bytes block = pattern(200, 17);
  // 197 bytes of room are left: the write that does not fit is taken up to
  // the last whole frame, and nothing after it.
  EXPECT_EQ(sink->write(block.data(), 100), 100);
  EXPECT_EQ(sink->write(block.data() + 100, 98), kResultWavOutput);
  EXPECT_EQ(sink->write(block.data() + 196, 1), kResultWavOutput);
  EXPECT_EQ(sink->close(), kResultWavOutput);
  sink.reset();

  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(static_cast<uint64_t>(info.st_size), 0xFFFFFFFEu);
  FILE* stream = fopen(path.c_str(), "rb");
  ASSERT_NE(stream, nullptr);
  Bytes header(58);
  EXPECT_EQ(fread(header.data(), 1, 58, stream), 58u);
  Bytes tail(196);
  EXPECT_EQ(fseeko(stream, static_cast<off_t>(initialLength), SEEK_SET), 0);
  EXPECT_EQ(fread(tail.data(), 1, tail.size(), stream), tail.size());
  fclose(stream);
  EXPECT_EQ(le32At(header, 4), 0xFFFFFFF6u);
  EXPECT_EQ(le32At(header, 54), 0xFFFFFFFEu - 58);
  EXPECT_EQ(le32At(header, 46), (0xFFFFFFFEu - 58) / 2);
  EXPECT_EQ(tail, Bytes(block.begin(), block.begin() + 196));
}

}  // namespace
