#include "app/run_display.h"

#include <utility>

#include "app/run_summary.h"
#include "support/terminal.h"
#include "wav/wav_file_source.h"

RunDisplay::RunDisplay(const RunSettings& settings, AudioSource* source,
                       std::function<uint64_t()> framesDropped)
    : settings_(settings),
      onTerminal_(stderrIsTerminal()),
      framesDropped_(std::move(framesDropped)),
      start_(std::chrono::steady_clock::now()) {
  meter_.peaks = onTerminal_ && settings.statusLine;
  if (!meter_.peaks) return;
  StatusLineOptions options;
  if (framesDropped_) options.framesDropped = framesDropped_;
  if (settings.inputFile != nullptr) {
    options.progress = [source](uint64_t* taken, uint64_t* total) {
      return wavFileSourceProgress(source, taken, total);
    };
  }
  statusLine_ = std::make_unique<StatusLine>(&meter_, std::move(options));
}

RunDisplay::~RunDisplay() { endRun(); }

void RunDisplay::endRun() {
  if (statusLine_ != nullptr) {
    statusLine_->stop();
    statusLine_.reset();
  }
  if (runMs_ == 0) {
    runMs_ = std::chrono::duration_cast<std::chrono::milliseconds>(
                 std::chrono::steady_clock::now() - start_)
                 .count();
  }
}

void RunDisplay::summarize(Result result, uint32_t recordings) {
  endRun();
  if (!onTerminal_ || (result < 0 && result != kResultUndecodable)) return;
  RunSummary summary;
  summary.inputFile = settings_.inputFile;
  summary.queueName = settings_.queueName;
  summary.outputFile = settings_.outputFile;
  summary.bytes = meter_.bytes.load(std::memory_order_relaxed);
  summary.framesDropped = framesDropped_ ? framesDropped_() : 0;
  summary.runMs = runMs_;
  summary.recordings = recordings;
  reportRunSummary(summary);
}
