// RunMeter: what the main loop tells the status line about the audio it
// moves. The main thread counts each block written to the sink (its length
// and, while the line is shown, each channel's peak: one table pass over
// bytes already in cache); the status thread samples the counts. Relaxed
// atomics, no lock.
//
// Thread-safety: runMeterAdd on the main thread only; runMeterTakePeaks
// and the loads on any one other thread.
#pragma once

#include <atomic>
#include <cstdint>

struct RunMeter {
  // Whether runMeterAdd takes the peaks (only the status line shows them).
  bool peaks = true;
  // Currency bytes written to the sink.
  std::atomic<uint64_t> bytes{0};
  // Highest sample magnitude per channel (0 to 32767, A-law decoded to 16
  // bits) since the status thread last took it.
  std::atomic<uint32_t> peak[2] = {};
};

// Counts `count` currency bytes written to the sink. The block may start
// in the middle of a frame; the channel of its first byte follows from the
// bytes counted before.
void runMeterAdd(RunMeter* meter, const uint8_t* bytes, int32_t count);

// The peaks since the last call, which start again from 0.
void runMeterTakePeaks(RunMeter* meter, uint32_t peaks[2]);
