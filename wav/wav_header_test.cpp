#include "wav/wav_header.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <string>

#include "tests/test_files.h"

namespace {

using test_files::Bytes;
using test_files::le16At;
using test_files::le32At;
using test_files::putLe16;
using test_files::putLe32;
using test_files::putText;

struct FileCloser {
  void operator()(FILE* stream) const { fclose(stream); }
};
using File = std::unique_ptr<FILE, FileCloser>;

// An anonymous temporary file holding `bytes`, positioned at its start.
File tempFileWith(const Bytes& bytes) {
  File file(test_files::anonymousTempFile());
  if (file && !bytes.empty()) {
    fwrite(bytes.data(), 1, bytes.size(), file.get());
  }
  if (file) rewind(file.get());
  return file;
}

// The whole file; the stream position is left as it was.
Bytes contents(FILE* stream) {
  const long position = ftell(stream);
  fflush(stream);
  fseek(stream, 0, SEEK_END);
  Bytes bytes(static_cast<size_t>(ftell(stream)));
  rewind(stream);
  if (!bytes.empty()) {
    EXPECT_EQ(fread(bytes.data(), 1, bytes.size(), stream), bytes.size());
  }
  fseek(stream, position, SEEK_SET);
  return bytes;
}

// "RIFF", `riffSize`, "WAVE", then `chunks` as given.
Bytes riffFile(uint32_t riffSize, const Bytes& chunks) {
  Bytes bytes;
  putText(bytes, "RIFF");
  putLe32(bytes, riffSize);
  putText(bytes, "WAVE");
  bytes.insert(bytes.end(), chunks.begin(), chunks.end());
  return bytes;
}

void putChunk(Bytes& bytes, const char* id, uint32_t length, const Bytes& body) {
  putText(bytes, id);
  putLe32(bytes, length);
  bytes.insert(bytes.end(), body.begin(), body.end());
}

const Bytes kAlawStereoHeader = {
    0x52, 0x49, 0x46, 0x46, 0x00, 0x00, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45,
    0x66, 0x6D, 0x74, 0x20, 0x12, 0x00, 0x00, 0x00, 0x06, 0x00, 0x02, 0x00,
    0x40, 0x1F, 0x00, 0x00, 0x80, 0x3E, 0x00, 0x00, 0x02, 0x00, 0x08, 0x00,
    0x00, 0x00, 0x66, 0x61, 0x63, 0x74, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x64, 0x61, 0x74, 0x61, 0x00, 0x00, 0x00, 0x00};

TEST(WavHeaderTest, AlawStereoHeaderIsExactly58KnownBytes) {
  File file(test_files::anonymousTempFile());
  ASSERT_TRUE(file);
  EXPECT_EQ(wavBuildHeader(file.get(), kWavFormatAlaw, 1, 0), 58);
  EXPECT_EQ(contents(file.get()), kAlawStereoHeader);
}

TEST(WavHeaderTest, EveryLayoutRowHasItsLengthAndFields) {
  struct Row {
    int32_t formatType;
    int32_t stereo;
    int32_t length;
    uint16_t tag, channels;
    uint32_t bytesPerSecond;
    uint16_t blockAlign, bits;
    Bytes extra;  // the bytes that follow the extra-byte count
  };
  const Bytes mp3Stereo = {1, 0, 2, 0, 0, 0, 216, 0, 1, 0, 0x71, 0x05};
  const Bytes mp3Mono = {1, 0, 2, 0, 0, 0, 72, 0, 1, 0, 0x71, 0x05};
  const Row rows[] = {
      {kWavFormatPcm16, 1, 58, 0x0001, 2, 32000, 4, 16, {}},
      {kWavFormatPcm16, 0, 58, 0x0001, 1, 16000, 2, 16, {}},
      {kWavFormatAlaw, 1, 58, 0x0006, 2, 16000, 2, 8, {}},
      {kWavFormatAlaw, 0, 58, 0x0006, 1, 8000, 1, 8, {}},
      {kWavFormatUlaw, 1, 58, 0x0007, 2, 16000, 2, 8, {}},
      {kWavFormatUlaw, 0, 58, 0x0007, 1, 8000, 1, 8, {}},
      {kWavFormatGsm610, 1, 60, 0x0031, 1, 1625, 65, 0, {0x40, 0x01}},
      {kWavFormatGsm610, 0, 60, 0x0031, 1, 1625, 65, 0, {0x40, 0x01}},
      {kWavFormatMp3, 1, 70, 0x0055, 2, 3000, 1, 0, mp3Stereo},
      {kWavFormatMp3, 0, 70, 0x0055, 1, 1000, 1, 0, mp3Mono},
      // Types not in the table select the A-law layouts.
      {0, 1, 58, 0x0006, 2, 16000, 2, 8, {}},
      {9, 0, 58, 0x0006, 1, 8000, 1, 8, {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(testing::Message() << "format " << row.formatType << " stereo "
                                    << row.stereo);
    EXPECT_EQ(wavHeaderLength(row.formatType, row.stereo), row.length);
    EXPECT_EQ(wavSelectLayout(row.formatType, row.stereo).count, 5);
    File file(test_files::anonymousTempFile());
    ASSERT_TRUE(file);
    ASSERT_EQ(wavBuildHeader(file.get(), row.formatType, row.stereo, 0x01020304),
              row.length);
    const Bytes h = contents(file.get());
    ASSERT_EQ(h.size(), static_cast<size_t>(row.length));
    const uint32_t body = static_cast<uint32_t>(row.length) - 40;
    EXPECT_EQ(Bytes(h.begin(), h.begin() + 4), Bytes({'R', 'I', 'F', 'F'}));
    EXPECT_EQ(le32At(h, 4), 0u);
    EXPECT_EQ(Bytes(h.begin() + 8, h.begin() + 16),
              Bytes({'W', 'A', 'V', 'E', 'f', 'm', 't', ' '}));
    EXPECT_EQ(le32At(h, 16), body);
    EXPECT_EQ(le16At(h, 20), row.tag);
    EXPECT_EQ(le16At(h, 22), row.channels);
    EXPECT_EQ(le32At(h, 24), 8000u);
    EXPECT_EQ(le32At(h, 28), row.bytesPerSecond);
    EXPECT_EQ(le16At(h, 32), row.blockAlign);
    EXPECT_EQ(le16At(h, 34), row.bits);
    EXPECT_EQ(le16At(h, 36), row.extra.size());
    EXPECT_EQ(Bytes(h.begin() + 38, h.begin() + 38 + row.extra.size()), row.extra);
    const size_t fact = 20 + body;
    EXPECT_EQ(Bytes(h.begin() + fact, h.begin() + fact + 4),
              Bytes({'f', 'a', 'c', 't'}));
    EXPECT_EQ(le32At(h, fact + 4), 4u);
    EXPECT_EQ(le32At(h, fact + 8), 0x01020304u);
    EXPECT_EQ(Bytes(h.begin() + fact + 12, h.begin() + fact + 16),
              Bytes({'d', 'a', 't', 'a'}));
    EXPECT_EQ(le32At(h, fact + 16), 0u);
  }
}

// A 58-byte header whose RIFF size (50) ends exactly behind the data chunk
// header: the state of a recording with no audio.
Bytes emptyRecording() {
  Bytes bytes = kAlawStereoHeader;
  bytes[4] = 50;
  return bytes;
}

TEST(WavHeaderTest, FindChunkReturnsBodyLengthAtBodyStart) {
  File file = tempFileWith(emptyRecording());
  ASSERT_TRUE(file);
  struct Case {
    const char* id;
    int32_t length;
    long bodyOffset;
  };
  const Case cases[] = {{"fmt ", 18, 20}, {"fact", 4, 46}, {"data", 0, 58}};
  for (const auto& c : cases) {
    EXPECT_EQ(wavFindChunk(file.get(), c.id), c.length) << c.id;
    EXPECT_EQ(ftell(file.get()), c.bodyOffset) << c.id;
  }
}

TEST(WavHeaderTest, FindChunkFailuresRestoreThePosition) {
  Bytes truncatedChunkHeader = riffFile(100, {});
  putText(truncatedChunkHeader, "fmt ");
  Bytes missing = riffFile(26, {});
  putChunk(missing, "fmt ", 18, Bytes(18, 0));
  // A skip length that, taken as signed, would walk backwards for ever.
  Bytes hugeSkip = riffFile(0xFFFFFFFF, {});
  putChunk(hugeSkip, "junk", 0xFFFFFFF8, {});
  putChunk(hugeSkip, "data", 0, {});
  Bytes hugeSkipSmallRiff = hugeSkip;
  hugeSkipSmallRiff[4] = 100;
  hugeSkipSmallRiff[5] = hugeSkipSmallRiff[6] = hugeSkipSmallRiff[7] = 0;

  struct Case {
    const char* name;
    Bytes bytes;
    const char* id;
    int32_t code;
  };
  const Case cases[] = {
      {"11 bytes", Bytes({'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V'}), "data",
       kWavFindShortFile},
      {"not WAVE", Bytes({'R', 'I', 'F', 'F', 4, 0, 0, 0, 'W', 'A', 'V', 'X'}),
       "data", kWavFindNotRiffWave},
      {"RIFX", Bytes({'R', 'I', 'F', 'X', 4, 0, 0, 0, 'W', 'A', 'V', 'E'}),
       "data", kWavFindNotRiffWave},
      {"chunk header cut", truncatedChunkHeader, "data", kWavFindShortChunkHeader},
      {"fresh header fmt", kAlawStereoHeader, "fmt ", kWavFindNotFound},
      {"fresh header fact", kAlawStereoHeader, "fact", kWavFindNotFound},
      {"fresh header data", kAlawStereoHeader, "data", kWavFindNotFound},
      {"no such chunk", missing, "data", kWavFindNotFound},
      {"huge skip", hugeSkip, "data", kWavFindNotFound},
      {"huge skip small RIFF", hugeSkipSmallRiff, "data", kWavFindNotFound},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    File file = tempFileWith(c.bytes);
    ASSERT_TRUE(file);
    fseek(file.get(), 3, SEEK_SET);
    EXPECT_EQ(wavFindChunk(file.get(), c.id), c.code);
    EXPECT_EQ(ftell(file.get()), 3);
  }
}

TEST(WavHeaderTest, FindChunkSkipsThePadByteOfAnOddChunk) {
  Bytes bytes = riffFile(4 + 12 + 12, {});
  putChunk(bytes, "LIST", 3, {'a', 'b', 'c', 0});
  putChunk(bytes, "data", 4, {1, 2, 3, 4});
  File file = tempFileWith(bytes);
  ASSERT_TRUE(file);
  EXPECT_EQ(wavFindChunk(file.get(), "data"), 4);
  EXPECT_EQ(ftell(file.get()), 32);
}

// Signed, a body of 2 GiB or more reads as not found; the unsigned variant
// finds it, so that recordings up to 4 GiB stay usable.
TEST(WavHeaderTest, FindChunkReportsAHugeBodyLengthAsNegative) {
  Bytes bytes = riffFile(0xFFFFFFFF, {});
  putChunk(bytes, "data", 0x80000000, {});
  File file = tempFileWith(bytes);
  ASSERT_TRUE(file);
  EXPECT_EQ(wavFindChunk(file.get(), "data"), INT32_MIN);
  uint32_t length = 0;
  EXPECT_EQ(wavFindChunkUnsigned(file.get(), "data", &length), 0);
  EXPECT_EQ(length, 0x80000000u);
  EXPECT_EQ(ftell(file.get()), 20);
  length = 7;
  EXPECT_LT(wavFindChunkUnsigned(file.get(), "fact", &length), 0);
  EXPECT_EQ(length, 7u);
}

TEST(WavHeaderTest, UpdateSizesPatchesRiffFactAndData) {
  File file(test_files::anonymousTempFile());
  ASSERT_TRUE(file);
  ASSERT_EQ(wavBuildHeader(file.get(), kWavFormatAlaw, 1, 0), 58);
  const Bytes audio(1000, 0xD5);
  ASSERT_EQ(fwrite(audio.data(), 1, audio.size(), file.get()), audio.size());
  ASSERT_EQ(wavUpdateSizes(file.get(), kWavFormatAlaw, 1, 500), 0);
  EXPECT_EQ(ftell(file.get()), 1058);  // back where the writer left it
  const Bytes bytes = contents(file.get());
  ASSERT_EQ(bytes.size(), 1058u);
  EXPECT_EQ(le32At(bytes, 4), 1050u);
  EXPECT_EQ(le32At(bytes, 46), 500u);
  EXPECT_EQ(le32At(bytes, 54), 1000u);
  EXPECT_EQ(Bytes(bytes.begin() + 58, bytes.end()), audio);
}

TEST(WavHeaderTest, UpdateSizesTakesTheDataSizeFromTheLayoutLength) {
  File file(test_files::anonymousTempFile());
  ASSERT_TRUE(file);
  ASSERT_EQ(wavBuildHeader(file.get(), kWavFormatGsm610, 0, 0), 60);
  const Bytes audio(130, 0);
  ASSERT_EQ(fwrite(audio.data(), 1, audio.size(), file.get()), audio.size());
  ASSERT_EQ(wavUpdateSizes(file.get(), kWavFormatGsm610, 0, 320), 0);
  const Bytes bytes = contents(file.get());
  EXPECT_EQ(le32At(bytes, 4), 182u);
  EXPECT_EQ(le32At(bytes, 48), 320u);
  EXPECT_EQ(le32At(bytes, 56), 130u);
}

TEST(WavHeaderTest, UpdateSizesReportsAMissingFactOrDataChunk) {
  Bytes noFact = riffFile(0, {});
  putChunk(noFact, "fmt ", 18, Bytes(18, 0));
  putChunk(noFact, "data", 0, {});
  Bytes noData = riffFile(0, {});
  putChunk(noData, "fmt ", 18, Bytes(18, 0));
  putChunk(noData, "fact", 4, Bytes(4, 0));
  File withoutFact = tempFileWith(noFact);
  File withoutData = tempFileWith(noData);
  ASSERT_TRUE(withoutFact && withoutData);
  EXPECT_EQ(wavUpdateSizes(withoutFact.get(), kWavFormatAlaw, 1, 0),
            kWavUpdateNoFact);
  EXPECT_EQ(wavUpdateSizes(withoutData.get(), kWavFormatAlaw, 1, 0),
            kWavUpdateNoData);
}

}  // namespace
