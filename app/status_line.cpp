#include "app/status_line.h"

#include <utility>

#include "app/status_text.h"
#include "support/console_live_line.h"

namespace {

int64_t millisBetween(std::chrono::steady_clock::time_point from,
                      std::chrono::steady_clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from)
      .count();
}

}  // namespace

StatusLine::StatusLine(RunMeter* meter, StatusLineOptions options)
    : meter_(meter),
      options_(std::move(options)),
      start_(std::chrono::steady_clock::now()),
      thread_([this] { run(); }) {}

StatusLine::~StatusLine() { stop(); }

void StatusLine::stop() {
  {
    const MutexLock lock(&mutex_);
    stopping_ = true;
  }
  wake_.notifyAll();
  if (thread_.joinable()) thread_.join();
  consoleLiveLineErase();
}

void StatusLine::run() {
  uint64_t lastBytes = 0;
  auto lastChange = start_;
  auto next = start_ + kPeriod;
  for (;;) {
    {
      MutexLock lock(&mutex_);
      while (!stopping_ && wake_.waitUntil(&mutex_, next)) {
      }
      if (stopping_) return;
    }
    const auto now = std::chrono::steady_clock::now();
    next += kPeriod;
    if (next < now) next = now + kPeriod;  // the machine slept
    StatusSample sample;
    sample.bytes = meter_->bytes.load(std::memory_order_relaxed);
    runMeterTakePeaks(meter_, sample.peaks);
    sample.framesDropped =
        options_.framesDropped ? options_.framesDropped() : 0;
    if (sample.bytes != lastBytes) {
      lastBytes = sample.bytes;
      lastChange = now;
    }
    sample.quietMs = millisBetween(lastChange, now);
    sample.runMs = millisBetween(start_, now);
    if (options_.progress &&
        !options_.progress(&sample.taken, &sample.total)) {
      sample.total = 0;
    }
    consoleLiveLineDraw(formatStatusLine(sample).c_str());
  }
}
