// The one line that ends a run on a terminal: what was written where, how
// many seconds of audio, how many frames were dropped.
//
// Thread-safety: main thread only.
#pragma once

#include <cstdint>

struct RunSummary {
  const char* inputFile = nullptr;   // -i; null for a live run
  const char* queueName = nullptr;   // -q; null with -t
  const char* outputFile = nullptr;  // -f or -F; null for the sound card
  uint64_t bytes = 0;                // currency bytes written to the sink
  uint64_t framesDropped = 0;
  int64_t runMs = 0;                 // wall time of the run
  uint32_t recordings = 0;           // --record: the files made
};

// Prints the summary through consoleReport, e.g.
// "recorded 12.480 seconds of audio into out.wav (0 frames dropped)",
// "recorded 60.000 seconds of audio into 2 recordings (0 frames dropped)"
// (--record), "played 12.480 seconds of audio (0 frames dropped)",
// "converted in.wav: 3600.000 seconds of audio into out.wav in 11.2 s
// (321x real time, 0 frames dropped)"; a live run that got no audio at all
// says "no audio received from queue NAME".
void reportRunSummary(const RunSummary& summary);
