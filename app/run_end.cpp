#include "app/run_end.h"

#include "app/stop_control.h"
#include "core/audio_endpoint.h"
#include "support/console_report.h"
#include "support/display_name.h"

WavRunEnd runEndOf(Result loop) {
  if (loop < 0 && loop != kResultUndecodable) return WavRunEnd::kFailed;
  if (loop == kResultUndecodable || stopRequested.load() != 0) {
    return WavRunEnd::kStopped;
  }
  return WavRunEnd::kComplete;
}

void printKeptRecording(const char* name, uint64_t audioBytes) {
  const uint64_t millis = audioBytes / (kCurrencyBytesPerSecond / 1000);
  consoleReport("kept recording %Ds (%llu.%03u seconds of audio)\r\n",
                displayName(name).c_str(),
                static_cast<unsigned long long>(millis / 1000),
                static_cast<unsigned>(millis % 1000));
}
