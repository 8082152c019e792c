// The words for a WAV input that the source refuses: what was found, what
// is accepted, and a sox command line that converts the file into an
// accepted one.
//
// Thread-safety: pure functions.
#pragma once

#include <cstdint>
#include <string>

// The format chunk's fields that decide acceptance.
struct WavFormatFound {
  uint16_t tag = 0;
  uint16_t channels = 0;
  uint32_t rate = 0;
  uint16_t bitsPerSample = 0;  // 0 when the chunk does not say
};

// True for a format the source reads: A-law, u-law or a framed stream
// (tags 0x0006, 0x0007, 0xF000, 0xF001), one or two channels, 8000 Hz.
bool wavFormatAccepted(const WavFormatFound& found);

// What was found, e.g. "16-bit PCM at 44100 Hz", "A-law at 16000 Hz, 3
// channels", "format 0x0055 at 8000 Hz".
std::string wavFormatDescription(const WavFormatFound& found);

// The reason for refusing `fileName` (UTF-8, shown as given): "<found>;
// accepted: A-law, u-law or framed codec streams at 8000 Hz (convert with:
// sox <fileName> -e a-law [-r 8000] [-c 2|-c 1] out.wav)". No command for
// a framed tag, which sox cannot write.
std::string wavFormatRefusal(const char* fileName, const WavFormatFound& found);

// The reason for a file that is not a RIFF WAVE file, from its first bytes
// (`length` of them, at most 12 looked at): "not a WAV file (...)".
std::string wavNotWavReason(const uint8_t* head, size_t length);

// The reason for refusing to continue a file with -f: `what` it is, and
// what -f continues.
std::string wavNotARecording(const char* what);

// What an existing file that -f cannot continue is, from its first bytes
// (`length` of them, at most 36 looked at); `ourLayout`: they start with
// the sink's 58-byte A-law stereo header, its sizes aside.
std::string wavNotARecordingReason(const uint8_t* header, uint64_t length,
                                   bool ourLayout);
