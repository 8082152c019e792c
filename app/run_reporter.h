// RunReporter: the reporter of one run. It prints every line of the lower
// layers on the console, as they always were printed, and counts the frames
// they dropped, for the run's status and summary.
//
// Thread-safety: report may be called from any thread; framesDropped may
// be read from any thread at any time.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "support/reporter.h"

class RunReporter : public Reporter {
 public:
  void report(ReportKind kind, const char* line) override;

  // Frames reported as dropped so far (bad check bytes, short or long
  // frames, frames that could not be decoded).
  uint64_t framesDropped() const { return framesDropped_.load(); }

 private:
  std::atomic<uint64_t> framesDropped_{0};
};
