// Result codes shared by every source, sink and the entry point.
//
// A result is a signed 32-bit value: 0 or positive means success, negative
// values name the failure. The entry point returns the code of a run as the
// process exit status (the shell sees it modulo 256: -4 shows as 252).
#pragma once

#include <cstdint>

using Result = int32_t;

constexpr Result kResultOk = 0;
constexpr Result kResultNotOpen = -1;        // stream source closed
constexpr Result kResultWavInput = -3;       // WAV source failed / not open
constexpr Result kResultWavOutput = -4;      // WAV sink write or patch failed
constexpr Result kResultNetwork = -5;        // connection or receive failed
constexpr Result kResultSoundNotOpen = -6;   // sound device sink closed
constexpr Result kResultUndecodable = -8;    // some frames undecodable; data valid
constexpr Result kResultCommandLine = -9;    // bad command line
