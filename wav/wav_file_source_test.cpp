#include "wav/wav_file_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "codecs/g711.h"
#include "tests/test_files.h"
#include "wav/wav_file_sink.h"

namespace {

using test_files::Bytes;
using test_files::putLe16;
using test_files::putLe32;
using test_files::putText;
using test_files::TempDir;
using test_files::writeFile;

struct Format {
  uint16_t tag = 0x0006;
  uint16_t channels = 2;
  uint32_t rate = 8000;
};

// A WAV file with an 18-byte format body and a data chunk that declares
// `declared` bytes and holds `data`.
Bytes wavBytes(const Format& format, const Bytes& data, uint32_t declared) {
  Bytes bytes;
  putText(bytes, "RIFF");
  putLe32(bytes, static_cast<uint32_t>(4 + 26 + 8 + data.size()));
  putText(bytes, "WAVEfmt ");
  putLe32(bytes, 18);
  putLe16(bytes, format.tag);
  putLe16(bytes, format.channels);
  putLe32(bytes, format.rate);
  putLe32(bytes, format.rate * format.channels);
  putLe16(bytes, format.channels);
  putLe16(bytes, 8);
  putLe16(bytes, 0);
  putText(bytes, "data");
  putLe32(bytes, declared);
  bytes.insert(bytes.end(), data.begin(), data.end());
  return bytes;
}

Bytes wavBytes(const Format& format, const Bytes& data) {
  return wavBytes(format, data, static_cast<uint32_t>(data.size()));
}

Bytes pattern(size_t length) {
  Bytes bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
  return bytes;
}

class WavFileSourceTest : public testing::Test {
 protected:
  // Writes `bytes` to a file and opens the source on it.
  std::unique_ptr<WavFileSource> openWith(const Bytes& bytes) {
    EXPECT_TRUE(writeFile(path_, bytes));
    return openWavFileSource(path_.c_str());
  }

  // One read of up to `capacity` bytes; the delivered bytes go to `out`.
  Result readBlock(AudioSource& source, int32_t capacity, Bytes* out) {
    Bytes buffer(static_cast<size_t>(capacity));
    int32_t count = -2;
    const Result result = source.read(buffer.data(), capacity, &count);
    out->assign(buffer.begin(), buffer.begin() + std::max(count, 0));
    lastCount_ = count;
    return result;
  }

  TempDir dir_;
  std::string path_ = dir_.file("in.wav");
  int32_t lastCount_ = 0;
};

TEST_F(WavFileSourceTest, MonoAlawIsWidenedToTwoChannels) {
  const Bytes data = pattern(1000);
  auto source = openWith(wavBytes({0x0006, 1, 8000}, data));
  ASSERT_NE(source, nullptr);
  Bytes block;
  size_t fileByte = 0;
  for (int32_t expected : {1024, 976}) {
    ASSERT_EQ(readBlock(*source, 1024, &block), 0);
    ASSERT_EQ(lastCount_, expected);
    for (int32_t i = 0; i < expected; i += 2, ++fileByte) {
      EXPECT_EQ(block[i], data[fileByte]) << fileByte;
      EXPECT_EQ(block[i + 1], data[fileByte]) << fileByte;
    }
  }
  for (int turn = 0; turn < 2; ++turn) {  // the end stays the end
    EXPECT_EQ(readBlock(*source, 1024, &block), 0);
    EXPECT_EQ(lastCount_, 0);
  }
  source.reset();
}

TEST_F(WavFileSourceTest, StereoAlawIsDeliveredUnchanged) {
  const Bytes data = pattern(3000);
  auto source = openWith(wavBytes({0x0006, 2, 8000}, data));
  ASSERT_NE(source, nullptr);
  Bytes all, block;
  while (readBlock(*source, 1024, &block) == 0 && lastCount_ > 0) {
    EXPECT_LE(lastCount_, 1024);
    all.insert(all.end(), block.begin(), block.end());
  }
  EXPECT_EQ(lastCount_, 0);
  EXPECT_EQ(all, data);
  source.reset();
}

TEST_F(WavFileSourceTest, UlawIsConvertedToAlaw) {
  Bytes every(256);
  for (int i = 0; i < 256; ++i) every[i] = static_cast<uint8_t>(i);
  struct Case {
    uint16_t channels;
    Bytes data;
    Bytes expected;
  };
  Bytes everyConverted(256);
  for (int i = 0; i < 256; ++i) everyConverted[i] = ulawToAlaw(every[i]);
  const Case cases[] = {
      {2, {0xFF, 0x7F}, {0xD5, 0x55}},
      {1, {0xFF, 0x7F}, {0xD5, 0xD5, 0x55, 0x55}},
      {2, every, everyConverted},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.channels << " channels, "
                                    << c.data.size() << " bytes");
    auto source = openWith(wavBytes({0x0007, c.channels, 8000}, c.data));
    ASSERT_NE(source, nullptr);
    Bytes block;
    EXPECT_EQ(readBlock(*source, 1024, &block), 0);
    EXPECT_EQ(block, c.expected);
    source.reset();
  }
}

TEST_F(WavFileSourceTest, RefusesWhatItCannotPlay) {
  const Bytes audio = pattern(100);
  Bytes unpatched = wavBytes({}, audio);
  for (size_t i : {4, 42}) unpatched[i] = unpatched[i + 1] = unpatched[i + 2] = 0;
  Bytes shortFormat = wavBytes({}, audio);
  shortFormat[16] = 4;  // format body of 4 bytes
  Bytes noData = wavBytes({}, {});
  noData.resize(noData.size() - 8);
  noData[4] = static_cast<uint8_t>(noData.size() - 8);
  struct Case {
    const char* name;
    Bytes bytes;
  };
  const Case cases[] = {
      {"PCM tag 0x0001", wavBytes({0x0001, 2, 8000}, audio)},
      {"GSM tag 0x0031", wavBytes({0x0031, 1, 8000}, audio)},
      {"16000 Hz", wavBytes({0x0006, 2, 16000}, audio)},
      {"6 channels", wavBytes({0x0006, 6, 8000}, audio)},
      {"0 channels", wavBytes({0x0006, 0, 8000}, audio)},
      {"sizes never patched", unpatched},
      {"format body too short", shortFormat},
      {"no data chunk", noData},
      {"not a WAV file", Bytes(200, 'x')},
      {"empty file", Bytes()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(openWith(c.bytes), nullptr);
  }
  EXPECT_EQ(openWavFileSource(dir_.file("missing.wav").c_str()), nullptr);
}

// A recording still being written reads as far as its header counts: the
// audio up to its last update (the first when the file reaches 16 KiB),
// never what follows.
TEST_F(WavFileSourceTest, ReadsARecordingBeingWrittenAsFarAsItsHeaderCounts) {
  auto sink = openWavFileSink(path_.c_str(), 0, nullptr);
  ASSERT_NE(sink, nullptr);
  const Bytes audio = pattern(16400);
  ASSERT_EQ(sink->write(audio.data(), 16400), 16400);
  for (const size_t counted : {16384 - 58, 16400}) {
    SCOPED_TRACE(counted);
    if (counted == 16400) sink.reset();  // patched now
    auto source = openWavFileSource(path_.c_str());
    ASSERT_NE(source, nullptr);
    Bytes all;
    Bytes block;
    while (readBlock(*source, 4096, &block) == 0 && !block.empty()) {
      all.insert(all.end(), block.begin(), block.end());
    }
    EXPECT_EQ(all, Bytes(audio.begin(), audio.begin() + counted));
    source.reset();
  }
}

TEST_F(WavFileSourceTest, EmptyRecordingEndsAtTheFirstRead) {
  auto sink = openWavFileSink(path_.c_str(), 0, nullptr);
  ASSERT_NE(sink, nullptr);
  sink.reset();
  auto source = openWavFileSource(path_.c_str());
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->wait(50), 1);
  Bytes block;
  EXPECT_EQ(readBlock(*source, 1024, &block), 0);
  EXPECT_EQ(lastCount_, 0);
  source.reset();
}

TEST_F(WavFileSourceTest, TruncatedDataDeliversWhatIsThereThenEnds) {
  // Declared sizes of 2 GiB and more are recordings of ours up to the 4 GiB
  // limit, cut short here: read like any other.
  for (const uint32_t declared : {1000u, 0x80000000u, 0xFFFFFFC5u}) {
    SCOPED_TRACE(declared);
    const Bytes data = pattern(300);
    auto source = openWith(wavBytes({}, data, declared));
    ASSERT_NE(source, nullptr);
    Bytes block;
    EXPECT_EQ(readBlock(*source, 1024, &block), 0);
    EXPECT_EQ(block, data);
    EXPECT_EQ(readBlock(*source, 1024, &block), 0);
    EXPECT_EQ(lastCount_, 0);
    source.reset();
  }
}

// Data far longer than the source's read buffer, behind a header of odd
// length and followed by another chunk, comes out whole and in order, in
// reads of any size.
TEST_F(WavFileSourceTest, LongDataIsDeliveredWholeAcrossBufferRefills) {
  const Bytes data = pattern(600001);
  Bytes bytes = wavBytes({}, data);
  putText(bytes, "LIST");
  putLe32(bytes, 4);
  putText(bytes, "junk");
  for (const int32_t capacity : {1024, 999}) {
    SCOPED_TRACE(capacity);
    auto source = openWith(bytes);
    ASSERT_NE(source, nullptr);
    Bytes all;
    Bytes block;
    while (readBlock(*source, capacity, &block) == 0 && lastCount_ > 0) {
      all.insert(all.end(), block.begin(), block.end());
    }
    EXPECT_EQ(lastCount_, 0);
    EXPECT_EQ(all, data);
    source.reset();
  }
}

TEST_F(WavFileSourceTest, ReadAfterCloseFailsWithoutTouchingTheBuffer) {
  auto source = openWith(wavBytes({}, pattern(100)));
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->close(), 0);
  EXPECT_FALSE(source->isOpen());
  EXPECT_EQ(source->close(), 0);
  uint8_t buffer[16];
  memset(buffer, 0xAB, sizeof buffer);
  int32_t count = 5;
  EXPECT_EQ(source->read(buffer, sizeof buffer, &count), kResultWavInput);
  EXPECT_EQ(count, -1);
  for (uint8_t byte : buffer) EXPECT_EQ(byte, 0xAB);
  EXPECT_EQ(source->wait(50), 1);
  source.reset();
}

// The stop thread closes the source while the main thread keeps reading;
// the reads must end with the not-open result and nothing may race.
TEST_F(WavFileSourceTest, CloseFromAnotherThreadEndsAReadLoop) {
  // Declares far more than it holds: reads deliver 0 bytes until closed.
  ASSERT_TRUE(writeFile(path_, wavBytes({}, pattern(4096), 0x7FFFFF00)));
  for (int round = 0; round < 40; ++round) {
    auto source = openWavFileSource(path_.c_str());
    ASSERT_NE(source, nullptr);
    std::atomic<int> reads{0};
    const int readsBeforeClose = (round % 5) * 3;
    std::thread stopper([&] {
      while (reads.load() < readsBeforeClose) std::this_thread::yield();
      source->close();
    });
    uint8_t buffer[1024];
    int32_t count = 0;
    Result result;
    do {
      result = source->read(buffer, sizeof buffer, &count);
      ++reads;
    } while (result == 0);
    stopper.join();
    EXPECT_EQ(result, kResultWavInput);
    EXPECT_EQ(count, -1);
    EXPECT_EQ(source->close(), 0);
    source.reset();
  }
}

}  // namespace
