#include "app/follow_run.h"

#include <memory>

#include "app/follow_loop.h"
#include "app/run_display.h"
#include "app/run_end.h"
#include "app/stop_control.h"
#include "sound/sound_device_sink.h"
#include "support/console_report.h"

RecordingSeriesOptions recordingSeriesOptionsOf(const RunSettings& settings) {
  RecordingSeriesOptions options;
  options.pattern = settings.recordPattern;
  options.queue = settings.queueName;
  options.splitBytes =
      static_cast<uint64_t>(settings.splitSeconds) * kCurrencyBytesPerSecond;
  if (settings.inputFile != nullptr) {
    options.input = fileIdentityOfPath(settings.inputFile);
  }
  return options;
}

Result runFollow(const RunSettings& settings, Reporter* reporter) {
  std::unique_ptr<RecordingSeries> series;
  std::unique_ptr<AudioSink> sound;
  AudioSink* sink = nullptr;
  if (settings.recordPattern != nullptr) {
    series = std::make_unique<RecordingSeries>(
        recordingSeriesOptionsOf(settings));
    sound = series->sink();
    sink = sound.get();
  } else {
    int32_t soundOpen = kWaveOutOk;
    sound = openSoundDeviceSink(&stopRequested, &soundOpen);
    if (sound == nullptr) {
      if (stopRequested.load() == 0) soundReportOpenFailure(soundOpen);
      return kResultOk;  // nothing can be heard, as in a single run
    }
    sink = sound.get();
  }
  RunDisplay display(settings, nullptr);
  const CallEnd callEnd = [&series](Result callResult) {
    return series != nullptr ? series->endRecording(runEndOf(callResult))
                             : kResultOk;
  };
  Result result =
      runFollowLoop(settings, sink, callEnd, reporter, display.meter());
  display.endRun();
  if (series != nullptr) {
    const Result ended = series->endRecording(WavRunEnd::kStopped);
    if (result == kResultOk) result = ended;
  } else {
    const Result closed = sound->close();
    if (result == kResultOk && closed < 0) result = closed;
  }
  display.summarize(result,
                    series != nullptr ? series->recordingsMade() : 0);
  return result;
}
