#include "app/hearkener_main.h"

#include <cstdlib>
#include <memory>

#include "app/command_line.h"
#include "app/failure_report.h"
#include "app/follow_run.h"
#include "app/main_loop.h"
#include "app/queue_list.h"
#include "app/run_reporter.h"
#include "app/run_display.h"
#include "app/run_end.h"
#include "app/stop_control.h"
#include "app/unlisted_queue.h"
#include "codecs/codec_library.h"
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

std::unique_ptr<AudioSource> openSource(const RunSettings& settings,
                                        Reporter* reporter, Failure* failure,
                                        StreamOpenOutcome* outcome) {
  if (settings.inputFile != nullptr) {
    return openWavFileSource(settings.inputFile, failure);
  }
  return openStreamSource(settings.host, settings.port, settings.queueName,
                          settings.inputMode, &stopRequested, reporter,
                          outcome);
}

// The codec loader reports to the run's reporter while the run lasts.
class CodecReporterScope {
 public:
  explicit CodecReporterScope(Reporter* reporter) {
    codecLibrarySetReporter(reporter);
  }
  ~CodecReporterScope() { codecLibrarySetReporter(nullptr); }
  CodecReporterScope(const CodecReporterScope&) = delete;
  CodecReporterScope& operator=(const CodecReporterScope&) = delete;
};

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
  Failure installFailure;
  if (!stopHandlersInstall(&installFailure)) {
    printFailure(installFailure);
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
  if (settings.showHelp) return finish(printHelp(argv));
  if (settings.showVersion) return finish(printVersion());
  RunReporter reporter;
  const CodecReporterScope codecReporter(&reporter);

  if (settings.listQueues) {
    // Only the service's address counts; no audio is received or written.
    Failure failure;
    const Result listed = listQueues(settings.host, settings.port,
                                     &stopRequested, stdout, &reporter,
                                     &failure);
    if (listed == kResultNetwork) {
      if (stopRequested.load() == 0) printFailure(failure);
      return finish(printUsage(argv, kResultNetwork, "could not open audio stream"));
    }
    return finish(listed);
  }
  if (settings.inputFile == nullptr && settings.queueName == nullptr &&
      !settings.testMode) {
    return finish(printUsage(argv, kResultCommandLine, "missing queue parameter"));
  }
  if (settings.follow) return finish(runFollow(settings, &reporter));
  Failure sourceFailure;
  StreamOpenOutcome opened;
  std::unique_ptr<AudioSource> source =
      openSource(settings, &reporter, &sourceFailure, &opened);
  stopSetSource(source.get());
  if (source == nullptr) {
    if (settings.inputFile != nullptr) {
      printFailure(sourceFailure);
      return finish(printUsage(argv, kResultWavInput, "could not open audio file"));
    }
    if (stopRequested.load() == 0) printFailure(opened.failure);
    return finish(printUsage(argv, kResultNetwork, "could not open audio stream"));
  }
  if (settings.inputFile == nullptr && settings.queueName != nullptr) {
    warnUnlistedQueue(settings.queueName, opened.offered);
  }

  WavSinkRun run;
  std::unique_ptr<AudioSink> sink;
  Result result = kResultOk;
  std::unique_ptr<RecordingSeries> series;
  if (settings.recordPattern != nullptr) {
    series = std::make_unique<RecordingSeries>(
        recordingSeriesOptionsOf(settings));
    sink = series->sink();
  } else if (settings.outputFile != nullptr) {
    WavSinkOptions options;
    options.append = settings.append ? 1 : 0;
    if (settings.inputFile != nullptr) {
      options.input = fileIdentityOfPath(settings.inputFile);
    }
    WavSinkOpenStatus status = WavSinkOpenStatus::kOk;
    Failure sinkFailure;
    sink = openWavFileSinkChecked(settings.outputFile, options, &run, nullptr,
                                  &status, &sinkFailure);
    if (sink == nullptr) {
      reportOutputRefusal(settings.outputFile, status);
      printFailure(sinkFailure);
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
  debugTrace("out=%p\n", static_cast<void*>(sink.get()));

  if (sink != nullptr) {
    RunDisplay display(settings, source.get(),
                       [&reporter]() { return reporter.framesDropped(); });
    const Result loop =
        runMainLoop(source.get(), sink.get(), stopRequested, display.meter());
    display.endRun();
    if (loop == kResultWavInput && settings.inputFile != nullptr) {
      printFailure(wavSourceFailure(source.get()));
    }
    if (settings.outputFile != nullptr) {
      wavSinkSetRunEnd(sink.get(), runEndOf(loop));
    }
    const Result closed = series != nullptr
                              ? series->endRecording(runEndOf(loop))
                              : sink->close();
    sink.reset();
    result = loop != kResultOk ? loop : closed;
    // Why the connection failed; an operator's stop is no failure.
    if (loop == kResultNetwork && settings.inputFile == nullptr &&
        stopRequested.load() == 0) {
      printFailure(streamSourceFailure(source.get()));
    }
    if (result < 0 && result != kResultUndecodable &&
        settings.outputFile != nullptr) {
      // Recorded audio is never thrown away; the sink has already removed
      // or put back a file that holds none of this run.
      if (run.audioWritten != 0) {
        printKeptRecording(settings.outputFile,
                           run.audioBefore + run.audioWritten);
      }
    }
    display.summarize(result,
                      series != nullptr ? series->recordingsMade() : 0);
  }

  // From here on no stop can reach the source.
  stopWithdrawSource();
  source.reset();
  return finish(result);
}
