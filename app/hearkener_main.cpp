#include "app/hearkener_main.h"

#include <cstdlib>

#include "app/command_line.h"
#include "app/main_loop.h"
#include "app/queue_list.h"
#include "app/stop_control.h"
#include "net/stream_source.h"
#include "sound/sound_device_sink.h"
#include "support/console_report.h"
#include "support/crash_reporting.h"
#include "support/debug_trace.h"
#include "support/display_name.h"
#include "support/standard_streams.h"
#include "wav/wav_file_sink.h"
#include "wav/output_file.h"
#include "wav/wav_file_source.h"

namespace {

AudioSource* openSource(const RunSettings& settings) {
  if (settings.inputFile != nullptr) {
    return openWavFileSource(settings.inputFile);
  }
  return openStreamSource(settings.host, settings.port, settings.queueName,
                          settings.inputMode, &stopRequested);
}

// Settles the output file of a run that failed. Recorded audio is never
// thrown away: a recording that holds audio of this run stays, and one line
// says so. Otherwise the run leaves no trace: a file it made is removed, a
// recording it appended to is put back as it was.
void settleFailedOutput(const RunSettings& settings, const WavSinkRun& run,
                        const WavPriorState& prior) {
  if (run.audioWritten > 0) {
    const uint64_t audio = run.audioBefore + run.audioWritten;
    const uint64_t millis = audio / (kCurrencyBytesPerSecond / 1000);
    consoleReport("kept recording %Ds (%llu.%03u seconds of audio)\r\n",
                  displayName(settings.outputFile).c_str(),
                  static_cast<unsigned long long>(millis / 1000),
                  static_cast<unsigned>(millis % 1000));
  } else if (run.created) {
    if (!outputFileRemoveIfSame(settings.outputFile, run.file)) {
      debugTrace("could not delete %s\n", settings.outputFile);
    }
  } else if (prior.existed && wavRestorePriorState(settings.outputFile, prior) != 0) {
    debugTrace("could not restore %s\n", settings.outputFile);
  }
}

// The console line for an output file that cannot be opened, when the usage
// line alone would not say why.
void reportOutputRefusal(const char* fileName, WavSinkOpenStatus status) {
  if (status == WavSinkOpenStatus::kBusy) {
    consoleReport("output file %Ds is in use by another run\r\n",
                  displayName(fileName).c_str());
  } else if (status == WavSinkOpenStatus::kSameAsInput) {
    consoleReport("output file %Ds is the input file\r\n",
                  displayName(fileName).c_str());
  }
}

Result finish(Result result) {
  stopHandlersRemove();
  debugTrace("leaving program with exit code %d...\n", result);
  return result;
}

}  // namespace

Result hearkenerMain(int argc, char** argv) {
  // Before anything opens a file: no file of ours may become standard
  // input, output or error.
  standardStreamsEnsureOpen();
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

  if (settings.listQueues) {
    // Only the service's address counts; no audio is received or written.
    const Result listed =
        listQueues(settings.host, settings.port, &stopRequested, stdout);
    if (listed == kResultNetwork) {
      return finish(printUsage(argv, kResultNetwork, "could not open audio stream"));
    }
    return finish(listed);
  }
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
  WavSinkRun run;
  AudioSink* sink = nullptr;
  Result result = kResultOk;
  if (settings.outputFile != nullptr) {
    WavSinkOptions options;
    options.append = settings.append ? 1 : 0;
    if (settings.inputFile != nullptr) {
      options.input = fileIdentityOfPath(settings.inputFile);
    }
    WavSinkOpenStatus status = WavSinkOpenStatus::kOk;
    sink = openWavFileSinkChecked(settings.outputFile, options, &run, &prior,
                                  &status);
    if (sink == nullptr) {
      reportOutputRefusal(settings.outputFile, status);
      result = printUsage(argv, kResultWavOutput, "could not open output file");
    }
  } else {
    int32_t soundOpen = kWaveOutOk;
    sink = openSoundDeviceSink(&stopRequested, &soundOpen);
    // Nothing will be heard; the run still ends with 0. A stop during the
    // open is no failure of the device.
    if (sink == nullptr && stopRequested.load() == 0) {
      soundReportOpenFailure(soundOpen);
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
      settleFailedOutput(settings, run, prior);
    }
  }

  // From here on no stop can reach the source.
  stopWithdrawSource();
  source->destroy(source);
  return finish(result);
}
