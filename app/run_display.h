// RunDisplay: what the operator sees of one run on a terminal: the status
// line while the audio flows, then the summary line. Off a terminal it
// shows nothing and counts nothing, so the output stays as it is.
//
// Thread-safety: main thread only (the status line draws from its own).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "app/command_line.h"
#include "app/run_meter.h"
#include "app/status_line.h"
#include "core/audio_endpoint.h"

class RunDisplay {
 public:
  // Decides from standard error and `settings` what is shown and starts the
  // status line. `source` (-i: a WAV file source) must outlive the display;
  // `framesDropped` counts the run's dropped frames (none when empty).
  RunDisplay(const RunSettings& settings, AudioSource* source,
             std::function<uint64_t()> framesDropped = {});
  ~RunDisplay();
  RunDisplay(const RunDisplay&) = delete;
  RunDisplay& operator=(const RunDisplay&) = delete;

  // The meter for runMainLoop; null when nothing is shown.
  RunMeter* meter() { return onTerminal_ ? &meter_ : nullptr; }

  // Ends the status line (erased) when the main loop has returned.
  void endRun();

  // Prints the summary of a run that ended with `result`: nothing off a
  // terminal or after a failure (its own lines tell of it). `recordings`:
  // the files a --record run made (one summary for the whole run, a
  // --follow run included).
  void summarize(Result result, uint32_t recordings = 0);

 private:
  const RunSettings& settings_;
  const bool onTerminal_;
  std::function<uint64_t()> framesDropped_;
  RunMeter meter_;
  const std::chrono::steady_clock::time_point start_;
  int64_t runMs_ = 0;
  std::unique_ptr<StatusLine> statusLine_;
};
