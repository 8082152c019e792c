#include "app/recording_series.h"

#include <utility>

#include "app/failure_report.h"
#include "app/run_end.h"
#include "support/console_report.h"
#include "support/display_name.h"
#include "support/file_utils.h"
#include "wav/wav_header.h"

namespace {

// The series' face towards the main loop.
class SeriesSink final : public AudioSink {
 public:
  explicit SeriesSink(RecordingSeries* series) : series_(series) {
    markOpen();
  }
  Result write(const uint8_t* bytes, int32_t length) override {
    return isOpen() ? series_->write(bytes, length) : kResultWavOutput;
  }
  Result close() override {
    markClosed();
    return kResultOk;
  }

 private:
  RecordingSeries* series_;
};

// The most audio one recording takes: the WAV limit, in whole frames.
constexpr uint64_t kMaxRecordingAudio =
    (kWavMaxFileLength - kWavAlawStereoHeaderLength) & ~1ull;

}  // namespace

RecordingSeries::RecordingSeries(RecordingSeriesOptions options)
    : options_(std::move(options)) {
  const uint64_t split = options_.splitBytes & ~1ull;
  limit_ = split != 0 && split < kMaxRecordingAudio ? split
                                                    : kMaxRecordingAudio;
}

RecordingSeries::~RecordingSeries() { finish(WavRunEnd::kStopped); }

std::unique_ptr<AudioSink> RecordingSeries::sink() {
  return std::make_unique<SeriesSink>(this);
}

bool RecordingSeries::openNext() {
  if (failed_) return false;
  const PatternTime time =
      options_.clock ? options_.clock() : localPatternTime();
  const std::string wanted =
      expandRecordPattern(options_.pattern, time, options_.queue, made_ + 1);
  Failure failure;
  for (;;) {
    const std::string name = createRecordingName(wanted, &failure);
    if (name.empty()) break;
    // What this run created at the name, so that only that is removed.
    const FileIdentity made = fileIdentityOfPath(name.c_str());
    WavSinkOptions sinkOptions;
    sinkOptions.input = options_.input;
    WavSinkOpenStatus status = WavSinkOpenStatus::kOk;
    current_ = openWavFileSinkChecked(name.c_str(), sinkOptions, &run_,
                                      nullptr, &status, &failure);
    if (current_ != nullptr) {
      name_ = name;
      written_ = 0;
      ++made_;
      consoleReport("recording %Ds\r\n", displayName(name_.c_str()).c_str());
      return true;
    }
    // Taken by another run between its creation and the open: try the next
    // name. Any other refusal ends the series.
    if (status != WavSinkOpenStatus::kBusy) {
      if (status != WavSinkOpenStatus::kSameAsInput) {
        outputFileRemoveIfSame(name.c_str(), made);
      }
      if (failure.empty()) failure = Failure{name, "is the input file"};
      break;
    }
  }
  printFailure(failure);
  consoleReport("could not create a recording\r\n");
  failed_ = true;
  return false;
}

bool RecordingSeries::finish(WavRunEnd end) {
  if (current_ == nullptr) return true;
  current_->setRunEnd(end);
  const Result closed = current_->close();
  current_.reset();
  if ((closed < 0 || end == WavRunEnd::kFailed) && run_.audioWritten != 0) {
    printKeptRecording(name_.c_str(), run_.audioWritten);
  }
  return closed >= 0;
}

Result RecordingSeries::endRecording(WavRunEnd end) {
  const bool finished = finish(end);
  return finished && !failed_ ? kResultOk : kResultWavOutput;
}

Result RecordingSeries::write(const uint8_t* bytes, int32_t length) {
  if (length <= 0) return length;
  uint64_t remaining = static_cast<uint64_t>(length);
  const uint8_t* at = bytes;
  while (remaining > 0) {
    if (current_ == nullptr && !openNext()) return kResultWavOutput;
    const uint64_t room = limit_ - written_;
    const int32_t piece =
        static_cast<int32_t>(remaining < room ? remaining : room);
    if (current_->write(at, piece) < 0) {
      // This recording keeps what reached it; the rest goes into the next
      // one, once.
      finish(WavRunEnd::kFailed);
      if (++failuresInARow_ > 1) {
        failed_ = true;
        return kResultWavOutput;
      }
      continue;
    }
    failuresInARow_ = 0;
    written_ += static_cast<uint64_t>(piece);
    at += piece;
    remaining -= static_cast<uint64_t>(piece);
    if (written_ == limit_ && !finish(WavRunEnd::kComplete)) {
      if (++failuresInARow_ > 1) {
        failed_ = true;
        return kResultWavOutput;
      }
    }
  }
  return length;
}
