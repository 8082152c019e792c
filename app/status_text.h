// The texts of the status line and of the run's summary, made from numbers
// the run sampled. Pure functions.
//
// Thread-safety: no shared state.
#pragma once

#include <cstdint>
#include <string>

// One sample of a run, as the status thread takes it.
struct StatusSample {
  // Currency bytes written to the sink so far.
  uint64_t bytes = 0;
  // Each channel's highest sample magnitude (0 to 32767) since the
  // previous sample.
  uint32_t peaks[2] = {0, 0};
  uint64_t framesDropped = 0;
  // Milliseconds since the bytes last grew (since the start when none came).
  int64_t quietMs = 0;
  // Milliseconds since the start of the run.
  int64_t runMs = 0;
  // -i: the input's data bytes taken and in all; total 0 for a live run.
  uint64_t taken = 0;
  uint64_t total = 0;
};

// The status line, e.g. "0:12.5  199.7 kB  [ ===|==  ]  0 dropped" for a
// live run, with "  stalled 3s" once nothing came for more than a second;
// for a file input "43%  ...  321x" gives the share of the input done and
// the speed as a multiple of real time.
std::string formatStatusLine(const StatusSample& sample);

// Seconds of audio in `bytes` of the currency, with three decimals:
// "12.480".
std::string audioSecondsText(uint64_t bytes);

// How many times faster than real time `bytes` of audio went in `runMs`:
// "321" from 10 up, "2.5" below; "" when runMs is 0.
std::string speedText(uint64_t bytes, int64_t runMs);
