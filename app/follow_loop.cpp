#include "app/follow_loop.h"

#include <string>

#include "app/main_loop.h"
#include "app/stop_control.h"
#include "app/unlisted_queue.h"
#include "net/stream_source.h"
#include "support/console_report.h"
#include "support/display_name.h"

namespace {

constexpr int32_t kMaxRetryDelaySeconds = 30;

// Forwards writes to the run's sink and counts the bytes it took.
class CountingSink final : public AudioSink {
 public:
  explicit CountingSink(AudioSink* target) : target_(target) { markOpen(); }
  Result write(const uint8_t* bytes, int32_t length) override {
    const Result written = target_->write(bytes, length);
    if (written > 0) taken += static_cast<uint64_t>(written);
    return written;
  }
  Result close() override {
    markClosed();
    return kResultOk;
  }
  uint64_t taken = 0;  // bytes the target took since last cleared

 private:
  AudioSink* target_;
};

// The lines of the state changes: only a new state, or a new reason, gets
// a line.
class StateLines {
 public:
  StateLines(const RunSettings& settings) : settings_(settings) {}

  void waiting(const Failure& failure, int32_t delaySeconds) {
    const std::string key = "w" + failure.reason;
    if (key == last_) return;
    last_ = key;
    consoleReport("waiting for tapd at %Ds: %Ds; retrying in %d s\r\n",
                  displayName(failure.object.c_str()).c_str(),
                  displayName(failure.reason.c_str()).c_str(),
                  static_cast<int>(delaySeconds));
  }

  // True on the change into receiving.
  bool receiving() {
    if (last_ == "r") return false;
    last_ = "r";
    if (settings_.queueName != nullptr) {
      consoleReport("receiving queue %Ds\r\n",
                    displayName(settings_.queueName).c_str());
    } else {
      consoleReport("receiving from tapd at %Ds port %d\r\n",
                    displayName(settings_.host).c_str(),
                    static_cast<int>(settings_.port));
    }
    return true;
  }

 private:
  const RunSettings& settings_;
  std::string last_;
};

Failure serviceFailure(const RunSettings& settings, const char* reason) {
  return Failure{std::string(settings.host) + " port " +
                     std::to_string(settings.port),
                 reason};
}

}  // namespace

int32_t nextRetryDelay(int32_t delaySeconds) {
  const int32_t doubled = delaySeconds * 2;
  return doubled < kMaxRetryDelaySeconds ? doubled : kMaxRetryDelaySeconds;
}

Result runFollowLoop(const RunSettings& settings, AudioSink* sink,
                     const CallEnd& callEnd, Reporter* reporter,
                     RunMeter* meter) {
  StateLines lines(settings);
  CountingSink counting(sink);
  int32_t delay = 1;
  while (stopRequested.load() == 0) {
    StreamOpenOutcome opened;
    std::unique_ptr<AudioSource> source = openStreamSource(
        settings.host, settings.port, settings.queueName, settings.inputMode,
        &stopRequested, reporter, &opened);
    Failure why;
    if (source == nullptr) {
      if (stopRequested.load() != 0) break;
      why = opened.failure;
      if (why.empty()) return kResultNetwork;  // an unreadable input mode
    } else {
      stopSetSource(source.get());
      if (lines.receiving() && settings.queueName != nullptr) {
        warnUnlistedQueue(settings.queueName, opened.offered);
      }
      counting.taken = 0;
      const Result loop =
          runMainLoop(source.get(), &counting, stopRequested, meter);
      stopWithdrawSource();
      if (loop == kResultNetwork && stopRequested.load() == 0) {
        why = streamSourceFailure(source.get());
      }
      source.reset();
      const bool sinkFailed = loop < 0 && loop != kResultNetwork &&
                              loop != kResultUndecodable;
      if (counting.taken != 0 || sinkFailed) {
        const Result ended = callEnd(loop);
        if (ended < 0) return ended;
      }
      if (sinkFailed) return loop;
      if (stopRequested.load() != 0) break;
      if (why.empty() && counting.taken != 0) {
        delay = 1;
        continue;  // the call ended: wait for the next one at once
      }
      if (why.empty()) {
        why = serviceFailure(settings, "closed without a call");
      }
    }
    lines.waiting(why, delay);
    if (stopWaitFor(delay * 1000)) break;
    delay = nextRetryDelay(delay);
  }
  return kResultOk;
}
