// WAV file sink: the AudioSink that stores the audio currency unchanged
// behind the 58-byte A-law stereo header and patches the sizes on close.
//
// Thread-safety: used by the main thread only.
#pragma once

#include <cstdint>

#include "app/audio_endpoint.h"
#include "wav/wav_header.h"

// What an append run must put back when the run fails, so that a failed run
// never destroys a recording that existed before it. Filled by
// openWavFileSink; `existed` is false when the sink created the file.
struct WavPriorState {
  bool existed = false;
  uint64_t length = 0;                            // file length before the run
  uint8_t header[kWavAlawStereoHeaderLength] = {};  // its header bytes
  uint64_t appendOffset = 0;  // where the run's audio starts
  // The bytes from appendOffset to the end that the run overwrites: half a
  // frame, and a pad byte behind an odd data length.
  uint8_t tail[2] = {};
  uint32_t tailLength = 0;  // 0 to 2
};

// Opens the sink. append != 0: continue the audio of an existing file of the
// 58-byte A-law stereo layout, or create the file when it does not exist;
// an existing file that is not such a recording is refused untouched.
// append == 0: create the file anew (replacing it). Returns the sink, or
// nullptr when the file can be neither appended to nor created. When `prior`
// is given it receives what restoring the file after a failed run needs.
AudioSink* openWavFileSink(const char* fileName, int32_t append,
                           WavPriorState* prior);

// Puts a file that an append run extended back into its state before that
// run: writes the original header and odd byte back and truncates the file
// to its original length. Returns 0, or -1 (errno set).
// REQUIRES: prior.existed; the sink on the file has been destroyed.
int32_t wavRestorePriorState(const char* fileName, const WavPriorState& prior);
