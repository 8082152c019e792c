// StatusLine: the live line on the operator's terminal. A thread of its own
// wakes every 500 ms, samples the run's RunMeter and the options' counters,
// and redraws the console's live line (support/console_live_line.h); the
// audio path only counts into the meter. Created only when standard error
// is a terminal and the line is wanted.
//
// Thread-safety: construct, stop and destroy on one thread; the drawing
// thread only reads the meter and calls the options' functions.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>

#include "app/run_meter.h"
#include "support/mutex.h"

struct StatusLineOptions {
  // The frames dropped so far (bad check sums, undecodable payloads).
  std::function<uint64_t()> framesDropped = [] { return uint64_t{0}; };
  // -i: stores the input's data bytes taken and in all and returns true;
  // empty for a live run.
  std::function<bool(uint64_t* taken, uint64_t* total)> progress;
};

class StatusLine {
 public:
  // Starts drawing from `meter`, which must outlive the line.
  StatusLine(RunMeter* meter, StatusLineOptions options);
  // Stops as stop() does.
  ~StatusLine();
  StatusLine(const StatusLine&) = delete;
  StatusLine& operator=(const StatusLine&) = delete;

  // Stops the drawing thread and erases the line. Idempotent.
  void stop();

  // Time between two draws.
  static constexpr std::chrono::milliseconds kPeriod{500};

 private:
  void run();

  RunMeter* const meter_;
  const StatusLineOptions options_;
  const std::chrono::steady_clock::time_point start_;
  Mutex mutex_;
  CondVar wake_;
  bool stopping_ GUARDED_BY(mutex_) = false;
  std::thread thread_;
};
