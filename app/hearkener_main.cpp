#include "app/hearkener_main.h"

#include <cstdlib>

#include "app/command_line.h"
#include "app/main_loop.h"
#include "app/stop_control.h"
#include "net/stream_source.h"
#include "sound/sound_device_sink.h"
#include "support/console_report.h"
#include "support/crash_reporting.h"
#include "support/debug_trace.h"
#include "support/file_utils.h"
#include "wav/wav_file_sink.h"
#include "wav/wav_file_source.h"

namespace {

AudioSource* openSource(const RunSettings& settings) {
  if (settings.inputFile != nullptr) {
    return openWavFileSource(settings.inputFile);
  }
  return openStreamSource(settings.host, settings.port, settings.queueName,
                          settings.inputMode, &stopRequested);
}

// Removes the output of a failed run. A recording that existed before an
// append run is put back as it was instead: a failed run never destroys
// audio recorded earlier.
void discardFailedOutput(const RunSettings& settings,
                         const WavPriorState& prior) {
  if (prior.existed) {
    if (wavRestorePriorState(settings.outputFile, prior) != 0) {
      debugTrace("could not restore %s\n", settings.outputFile);
    }
  } else if (utf8Unlink(settings.outputFile) != 0) {
    debugTrace("could not delete %s\n", settings.outputFile);
  }
}

Result finish(Result result) {
  stopHandlersRemove();
  debugTrace("leaving program with exit code %d...\n", result);
  return result;
}

}  // namespace

Result hearkenerMain(int argc, char** argv) {
  crashReportingSetup("hearkener");
  if (!stopHandlersInstall()) {
    printUsage(argv, kResultWavInput, "unable to install handler!");
    std::exit(kResultWavInput);
  }
  debugTrace("started with %d arguments...\n", argc);
  if (argc < 2) {
    return finish(printUsage(argv, kResultCommandLine, "missing queue parameter"));
  }
  RunSettings settings;
  const Result parsed = parseCommandLine(argc, argv, &settings);
  if (parsed != kResultOk) return finish(parsed);

  if (settings.inputFile == nullptr && settings.queueName == nullptr &&
      !settings.testMode) {
    return finish(printUsage(argv, kResultCommandLine, "missing queue parameter"));
  }
  AudioSource* source = openSource(settings);
  stopSetSource(source);
  if (source == nullptr) {
    if (settings.inputFile != nullptr) {
      return finish(printUsage(argv, kResultWavInput, "could not open audio file"));
    }
    return finish(printUsage(argv, kResultNetwork, "could not open audio stream"));
  }

  WavPriorState prior;
  AudioSink* sink = nullptr;
  Result result = kResultOk;
  if (settings.outputFile != nullptr) {
    sink = openWavFileSink(settings.outputFile, settings.append ? 1 : 0, &prior);
    if (sink == nullptr) {
      result = printUsage(argv, kResultWavOutput, "could not open output file");
    }
  } else {
    int32_t soundOpen = kWaveOutOk;
    sink = openSoundDeviceSink(&stopRequested, &soundOpen);
    if (sink == nullptr && soundOpen == kWaveOutNoDevice) {
      // Nothing will be heard; the run still ends with 0.
      consoleReport("%s", kSoundNoDeviceMessage);
    }
  }
  debugTrace("out=%p\n", static_cast<void*>(sink));

  if (sink != nullptr) {
    const Result loop = runMainLoop(source, sink, stopRequested);
    const Result closed = sink->close(sink);
    sink->destroy(sink);
    result = loop != kResultOk ? loop : closed;
    if (result < 0 && result != kResultUndecodable &&
        settings.outputFile != nullptr) {
      discardFailedOutput(settings, prior);
    }
  }

  // From here on no stop can reach the source.
  stopWithdrawSource();
  source->destroy(source);
  return finish(result);
}
