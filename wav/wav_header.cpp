#include "wav/wav_header.h"

#include <sys/types.h>

#include <cstring>

namespace {

constexpr uint8_t kRiff[8] = {'R', 'I', 'F', 'F', 0, 0, 0, 0};
constexpr uint8_t kWave[4] = {'W', 'A', 'V', 'E'};
constexpr uint8_t kFact[12] = {'f', 'a', 'c', 't', 4, 0, 0, 0, 0, 0, 0, 0};
constexpr uint8_t kData[8] = {'d', 'a', 't', 'a', 0, 0, 0, 0};

#define HK_U16(v) static_cast<uint8_t>((v) & 0xFF), static_cast<uint8_t>((v) >> 8)
#define HK_U32(v)                                                        \
  static_cast<uint8_t>((v) & 0xFF), static_cast<uint8_t>(((v) >> 8) & 0xFF), \
      static_cast<uint8_t>(((v) >> 16) & 0xFF),                          \
      static_cast<uint8_t>(((v) >> 24) & 0xFF)
// "fmt ", body length, tag, channels, rate, bytes/s, block align, bits, extra.
#define HK_FMT(body, tag, ch, bps, align, bits, extra)                        \
  {'f', 'm', 't', ' ', HK_U32(body), HK_U16(tag), HK_U16(ch), HK_U32(8000), \
   HK_U32(bps), HK_U16(align), HK_U16(bits), HK_U16(extra)}

constexpr uint8_t kFmtPcmStereo[26] = HK_FMT(18, 0x0001, 2, 32000, 4, 16, 0);
constexpr uint8_t kFmtPcmMono[26] = HK_FMT(18, 0x0001, 1, 16000, 2, 16, 0);
constexpr uint8_t kFmtAlawStereo[26] = HK_FMT(18, 0x0006, 2, 16000, 2, 8, 0);
constexpr uint8_t kFmtAlawMono[26] = HK_FMT(18, 0x0006, 1, 8000, 1, 8, 0);
constexpr uint8_t kFmtUlawStereo[26] = HK_FMT(18, 0x0007, 2, 16000, 2, 8, 0);
constexpr uint8_t kFmtUlawMono[26] = HK_FMT(18, 0x0007, 1, 8000, 1, 8, 0);
// GSM 06.10: 2 extra bytes, 320 samples per block.
constexpr uint8_t kFmtGsm[28] = {'f', 'm', 't', ' ', HK_U32(20), HK_U16(0x0031),
                                 HK_U16(1), HK_U32(8000), HK_U32(1625),
                                 HK_U16(65), HK_U16(0), HK_U16(2), HK_U16(320)};
// MPEG audio layer 3: 12 extra bytes (id 1, flags 2, block size, frames per
// block 1, codec delay 1393).
constexpr uint8_t kFmtMp3Stereo[38] = {
    'f', 'm', 't', ' ', HK_U32(30), HK_U16(0x0055), HK_U16(2), HK_U32(8000),
    HK_U32(3000), HK_U16(1), HK_U16(0), HK_U16(12), HK_U16(1), HK_U32(2),
    HK_U16(216), HK_U16(1), HK_U16(1393)};
constexpr uint8_t kFmtMp3Mono[38] = {
    'f', 'm', 't', ' ', HK_U32(30), HK_U16(0x0055), HK_U16(1), HK_U32(8000),
    HK_U32(1000), HK_U16(1), HK_U16(0), HK_U16(12), HK_U16(1), HK_U32(2),
    HK_U16(72), HK_U16(1), HK_U16(1393)};
#undef HK_FMT
#undef HK_U32
#undef HK_U16

#define HK_LAYOUT(fmt)                                                \
  {{sizeof kRiff, kRiff}, {sizeof kWave, kWave}, {sizeof fmt, fmt}, \
   {sizeof kFact, kFact}, {sizeof kData, kData}}

constexpr WavSegment kPcmStereo[5] = HK_LAYOUT(kFmtPcmStereo);
constexpr WavSegment kPcmMono[5] = HK_LAYOUT(kFmtPcmMono);
constexpr WavSegment kAlawStereo[5] = HK_LAYOUT(kFmtAlawStereo);
constexpr WavSegment kAlawMono[5] = HK_LAYOUT(kFmtAlawMono);
constexpr WavSegment kUlawStereo[5] = HK_LAYOUT(kFmtUlawStereo);
constexpr WavSegment kUlawMono[5] = HK_LAYOUT(kFmtUlawMono);
constexpr WavSegment kGsm[5] = HK_LAYOUT(kFmtGsm);
constexpr WavSegment kMp3Stereo[5] = HK_LAYOUT(kFmtMp3Stereo);
constexpr WavSegment kMp3Mono[5] = HK_LAYOUT(kFmtMp3Mono);
#undef HK_LAYOUT

uint32_t readLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool writeLe32(FILE* stream, uint32_t value) {
  const uint8_t bytes[4] = {
      static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
      static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return fwrite(bytes, 1, 4, stream) == 4;
}

int32_t failFind(FILE* stream, off_t remembered, int32_t code) {
  fseeko(stream, remembered, SEEK_SET);
  return code;
}

}  // namespace

WavLayout wavSelectLayout(int32_t formatType, int32_t stereo) {
  const bool st = stereo != 0;
  switch (formatType) {
    case kWavFormatPcm16:
      return {st ? kPcmStereo : kPcmMono, 5};
    case kWavFormatUlaw:
      return {st ? kUlawStereo : kUlawMono, 5};
    case kWavFormatGsm610:
      return {kGsm, 5};
    case kWavFormatMp3:
      return {st ? kMp3Stereo : kMp3Mono, 5};
    default:
      return {st ? kAlawStereo : kAlawMono, 5};
  }
}

int32_t wavHeaderLength(int32_t formatType, int32_t stereo) {
  const WavLayout layout = wavSelectLayout(formatType, stereo);
  int32_t length = 0;
  for (int32_t i = 0; i < layout.count; ++i) {
    length += static_cast<int32_t>(layout.segments[i].length);
  }
  return length;
}

int32_t wavBuildHeader(FILE* stream, int32_t formatType, int32_t stereo,
                       uint32_t frameCount) {
  const WavLayout layout = wavSelectLayout(formatType, stereo);
  if (fseeko(stream, 0, SEEK_SET) != 0) return -1;
  int32_t length = 0;
  for (int32_t i = 0; i < layout.count; ++i) {
    const WavSegment& segment = layout.segments[i];
    if (memcmp(segment.bytes, "fact", 4) == 0) {
      const size_t head = segment.length - 4;
      if (fwrite(segment.bytes, 1, head, stream) != head ||
          !writeLe32(stream, frameCount)) {
        return -1;
      }
    } else if (fwrite(segment.bytes, 1, segment.length, stream) !=
               segment.length) {
      return -1;
    }
    length += static_cast<int32_t>(segment.length);
  }
  fseeko(stream, 0, SEEK_CUR);
  return length;
}

int32_t wavFindChunk(FILE* stream, const char* id) {
  uint32_t length = 0;
  const int32_t found = wavFindChunkUnsigned(stream, id, &length);
  return found < 0 ? found : static_cast<int32_t>(length);
}

int32_t wavFindChunkUnsigned(FILE* stream, const char* id, uint32_t* length) {
  const off_t remembered = ftello(stream);
  uint8_t head[12];
  if (fseeko(stream, 0, SEEK_SET) != 0 ||
      fread(head, 1, sizeof head, stream) != sizeof head) {
    return failFind(stream, remembered, kWavFindShortFile);
  }
  if (memcmp(head, "RIFF", 4) != 0 || memcmp(head + 8, "WAVE", 4) != 0) {
    return failFind(stream, remembered, kWavFindNotRiffWave);
  }
  const uint64_t riffSize = readLe32(head + 4);
  // Offsets count from byte 8 of the file. A chunk header that ends exactly
  // at the RIFF size is still inside it (an empty data chunk at the end).
  uint64_t offset = 4;
  while (offset + 8 <= riffSize) {
    uint8_t chunk[8];
    if (fread(chunk, 1, sizeof chunk, stream) != sizeof chunk) {
      return failFind(stream, remembered, kWavFindShortChunkHeader);
    }
    const uint32_t bodyLength = readLe32(chunk + 4);
    if (memcmp(chunk, id, 4) == 0) {
      fseeko(stream, 0, SEEK_CUR);
      *length = bodyLength;
      return 0;
    }
    // Unsigned, padded to even: the walk only ever moves forward.
    const uint64_t skip = static_cast<uint64_t>(bodyLength) + (bodyLength & 1u);
    if (fseeko(stream, static_cast<off_t>(skip), SEEK_CUR) != 0) {
      return failFind(stream, remembered, kWavFindSeekFailed);
    }
    offset += 8 + skip;
  }
  return failFind(stream, remembered, kWavFindNotFound);
}

int32_t wavUpdateSizes(FILE* stream, int32_t formatType, int32_t stereo,
                       uint32_t frameCount) {
  const off_t remembered = ftello(stream);
  if (fseeko(stream, 0, SEEK_END) != 0) return kWavUpdateSeekEnd;
  const off_t fileLength = ftello(stream);
  if (fileLength < 0) return kWavUpdateSeekEnd;
  const uint64_t length = static_cast<uint64_t>(fileLength);
  if (fseeko(stream, 4, SEEK_SET) != 0) return kWavUpdateSeekRiff;
  if (!writeLe32(stream, static_cast<uint32_t>(length - 8))) {
    return kWavUpdateWriteRiff;
  }
  const uint64_t headerLength =
      static_cast<uint64_t>(wavHeaderLength(formatType, stereo));
  uint32_t chunkLength = 0;
  if (wavFindChunkUnsigned(stream, "fact", &chunkLength) != 0) {
    return kWavUpdateNoFact;
  }
  if (!writeLe32(stream, frameCount)) return kWavUpdateWriteFact;
  if (wavFindChunkUnsigned(stream, "data", &chunkLength) != 0) {
    return kWavUpdateNoData;
  }
  if (fseeko(stream, -4, SEEK_CUR) != 0) return kWavUpdateSeekDataSize;
  if (!writeLe32(stream, static_cast<uint32_t>(length - headerLength))) {
    return kWavUpdateWriteData;
  }
  if (fseeko(stream, remembered, SEEK_SET) != 0) return kWavUpdateSeekBack;
  return 0;
}
