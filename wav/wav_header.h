// RIFF/WAVE header layouts and the three routines every WAV file operation
// goes through: build a header, find a chunk, patch the size fields.
//
// A layout is five constant segments: RIFF header, form type, format chunk,
// fact chunk, data chunk header. All numbers are little-endian. The routines
// work on a binary stdio stream opened by the caller; they are thread-safe
// as long as no two threads use the same stream.
#pragma once

#include <cstdint>
#include <cstdio>

// Format types of the layout table. 2 and 3 equal the InputMode values of
// A-law and u-law input; every type not listed selects the A-law layout.
constexpr int32_t kWavFormatPcm16 = 1;
constexpr int32_t kWavFormatAlaw = 2;
constexpr int32_t kWavFormatUlaw = 3;
constexpr int32_t kWavFormatGsm610 = 4;
constexpr int32_t kWavFormatMp3 = 5;

// Length of the A-law stereo header that the sink writes.
constexpr int32_t kWavAlawStereoHeaderLength = 58;

// Largest file a WAV header can describe: its sizes are 32-bit.
constexpr uint64_t kWavMaxFileLength = 0xFFFFFFFFull;

struct WavSegment {
  uint32_t length;
  const uint8_t* bytes;
};

struct WavLayout {
  const WavSegment* segments;
  int32_t count;  // always 5
};

// Result codes of wavFindChunk.
constexpr int32_t kWavFindShortFile = -430;
constexpr int32_t kWavFindNotRiffWave = -438;
constexpr int32_t kWavFindShortChunkHeader = -452;
constexpr int32_t kWavFindSeekFailed = -469;
constexpr int32_t kWavFindNotFound = -474;

// Result codes of wavUpdateSizes.
constexpr int32_t kWavUpdateSeekEnd = -362;
constexpr int32_t kWavUpdateSeekRiff = -368;
constexpr int32_t kWavUpdateWriteRiff = -375;
constexpr int32_t kWavUpdateNoFact = -387;
constexpr int32_t kWavUpdateWriteFact = -393;
constexpr int32_t kWavUpdateNoData = -398;
constexpr int32_t kWavUpdateSeekDataSize = -401;
constexpr int32_t kWavUpdateWriteData = -407;
constexpr int32_t kWavUpdateSeekBack = -411;

// The layout for a format type and stereo flag (non-zero: stereo).
WavLayout wavSelectLayout(int32_t formatType, int32_t stereo);

// Sum of the layout's segment lengths: 58, 60 (GSM) or 70 (MPEG layer 3).
int32_t wavHeaderLength(int32_t formatType, int32_t stereo);

// Writes the layout at offset 0 with `frameCount` in the fact chunk. Returns
// the header length, or -1 when a segment could not be written whole.
int32_t wavBuildHeader(FILE* stream, int32_t formatType, int32_t stereo,
                       uint32_t frameCount);

// Finds the chunk `id` (four characters) inside the RIFF size. Returns its
// body length read as a signed 32-bit number (negative for 2^31 and more,
// which callers treat as not found) with the stream at the first body byte,
// or one of the kWavFind* codes with the stream back where it was.
// The walk honours the pad byte after an odd-length chunk, always moves
// forward and ends.
int32_t wavFindChunk(FILE* stream, const char* id);

// As wavFindChunk, but stores the body length unsigned in *length and
// returns 0 on success, so that a chunk of 2 GiB or more (the sink's
// recordings reach 4 GiB) is found too. On failure returns the kWavFind*
// code with the stream back where it was and *length untouched.
// REQUIRES: length != nullptr.
int32_t wavFindChunkUnsigned(FILE* stream, const char* id, uint32_t* length);

// Patches the RIFF size (file length - 8), the fact count and the data size
// (file length - header length); a data chunk of 2 GiB or more is patched
// like any other. Returns 0 with the stream back at its position, or one of
// the kWavUpdate* codes.
// REQUIRES: the file length is at most kWavMaxFileLength.
int32_t wavUpdateSizes(FILE* stream, int32_t formatType, int32_t stereo,
                       uint32_t frameCount);
