// How a run (or one call of a --follow run) ended, for the settling of its
// recording, and the line that says a failed run kept its audio.
//
// Thread-safety: main thread only.
#pragma once

#include <cstdint>

#include "core/result.h"
#include "wav/wav_file_sink.h"

// kFailed for a failure other than undecodable frames, kStopped for a stop
// or undecodable frames, kComplete otherwise.
WavRunEnd runEndOf(Result loop);

// Prints "kept recording NAME (S.mmm seconds of audio)" for a recording of
// `audioBytes` bytes of the currency.
void printKeptRecording(const char* name, uint64_t audioBytes);
