// PacedWaveOut: a wave-out device for tests and benchmarks that plays in
// real time without a sound card, and records what it saw.
//
// One buffer plays for Options::bufferMs, then the next; the done
// notification of a buffer follows its end after Options::lateDoneMs. The
// device snapshots every buffer when it is queued and compares the contents
// when it plays it and again when it hands it back, so any rewrite of a
// buffer the device still holds is counted as an overwrite. It can be paused
// (nothing starts playing) and made to refuse every queue.
//
// Thread-safety: the test controls and observations may be called from any
// thread. The device follows the wave-out contract: its operations come
// from one thread at a time; done callbacks run on its own thread, or inside
// reset and close on the caller's.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "sound/wave_out.h"
#include "support/mutex.h"

namespace paced_wave_out {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

struct Options {
  int32_t bufferMs = 32;     // playing time of one buffer; 0: instant
  int32_t lateDoneMs = 0;    // from the end of a buffer to its notification
  bool paused = false;       // start paused
  bool refuseQueue = false;  // every queue fails
  int32_t openResult = kWaveOutOk;  // what opening returns
};

class PacedWaveOut : public std::enable_shared_from_this<PacedWaveOut> {
 public:
  explicit PacedWaveOut(Options options) : options_(options) {
    paused_ = options.paused;
  }
  ~PacedWaveOut() { shutDown(); }
  PacedWaveOut(const PacedWaveOut&) = delete;
  PacedWaveOut& operator=(const PacedWaveOut&) = delete;

  // An opener for this device (one open per object).
  WaveOutOpener opener() {
    std::shared_ptr<PacedWaveOut> self = shared_from_this();
    return [self](const WaveOutFormat& format, WaveOutDoneCallback done,
                  void* context, std::unique_ptr<WaveOutDevice>* device) {
      return self->open(format, done, context, device);
    };
  }

  void pause() { setPaused(true); }
  void resume() { setPaused(false); }

  // Runs f under the lock; returns its result.
  template <typename F>
  auto locked(F f) const -> decltype(f()) {
    MutexLock lock(&mutex_);
    return f();
  }

  // The PCM bytes played so far, in order.
  Bytes played() const {
    return locked([&]() REQUIRES(mutex_) { return played_; });
  }
  // Buffers queued so far; buffers the device holds now and at most.
  int32_t queuedCount() const {
    return locked([&]() REQUIRES(mutex_) { return queuedCount_; });
  }
  int32_t heldNow() const {
    return locked([&]() REQUIRES(mutex_) { return held(); });
  }
  int32_t maxHeld() const {
    return locked([&]() REQUIRES(mutex_) { return maxHeld_; });
  }
  // Rewrites of a held buffer seen; queues refused as invalid (a buffer not
  // prepared or queued twice); resets; done notifications given.
  int32_t overwrites() const {
    return locked([&]() REQUIRES(mutex_) { return overwrites_; });
  }
  int32_t invalidQueues() const {
    return locked([&]() REQUIRES(mutex_) { return invalidQueues_; });
  }
  int32_t resets() const {
    return locked([&]() REQUIRES(mutex_) { return resets_; });
  }
  int32_t doneCount() const {
    return locked([&]() REQUIRES(mutex_) { return doneCount_; });
  }
  // When each successful queue happened, in order.
  std::vector<Clock::time_point> queueTimes() const {
    return locked([&]() REQUIRES(mutex_) { return queueTimes_; });
  }
  WaveOutFormat format() const {
    return locked([&]() REQUIRES(mutex_) { return format_; });
  }

 private:
  class Device;
  struct Entry {
    WaveOutBuffer* buffer;
    Bytes snapshot;
    Clock::time_point at;  // end of play, or time of notification
  };

  int32_t held() const REQUIRES(mutex_) {
    return static_cast<int32_t>(waiting_.size() + playing_.size() +
                                finished_.size());
  }
  bool unchanged(const Entry& entry) const {
    return std::memcmp(entry.buffer->data, entry.snapshot.data(),
                       entry.snapshot.size()) == 0;
  }
  void setPaused(bool paused) {
    {
      MutexLock lock(&mutex_);
      paused_ = paused;
    }
    wake_.notifyAll();
  }

  int32_t open(const WaveOutFormat& format, WaveOutDoneCallback done,
               void* context, std::unique_ptr<WaveOutDevice>* device);

  int32_t prepare(WaveOutBuffer* buffer) {
    MutexLock lock(&mutex_);
    if (buffer->prepared || buffer->length <= 0) return kWaveOutInvalid;
    buffer->prepared = true;
    return kWaveOutOk;
  }

  int32_t queue(WaveOutBuffer* buffer) {
    {
      MutexLock lock(&mutex_);
      if (options_.refuseQueue) return kWaveOutInvalid;
      if (closed_ || !buffer->prepared || buffer->queued) {
        ++invalidQueues_;
        return kWaveOutInvalid;
      }
      buffer->queued = true;
      waiting_.push_back(Entry{
          buffer, Bytes(buffer->data, buffer->data + buffer->length), {}});
      ++queuedCount_;
      queueTimes_.push_back(Clock::now());
      if (held() > maxHeld_) maxHeld_ = held();
    }
    wake_.notifyAll();
    return kWaveOutOk;
  }

  int32_t reset() { return discardAll(true); }

  // Hands back every held buffer; counted as a reset when `counted` (a
  // close discards without being a reset of the caller's).
  int32_t discardAll(bool counted) {
    std::deque<Entry> discarded;
    {
      MutexLock lock(&mutex_);
      if (closed_) return kWaveOutInvalid;
      if (counted) ++resets_;
      for (auto* list : {&finished_, &playing_, &waiting_}) {
        for (Entry& entry : *list) {
          if (!unchanged(entry)) ++overwrites_;
          entry.buffer->queued = false;
          discarded.push_back(std::move(entry));
        }
        list->clear();
      }
      doneCount_ += static_cast<int32_t>(discarded.size());
    }
    for (Entry& entry : discarded) done_(context_, entry.buffer);
    wake_.notifyAll();
    return kWaveOutOk;
  }

  int32_t unprepare(WaveOutBuffer* buffer) {
    MutexLock lock(&mutex_);
    if (!buffer->prepared) return kWaveOutInvalid;
    if (buffer->queued) return kWaveOutStillQueued;
    buffer->prepared = false;
    return kWaveOutOk;
  }

  void close() {
    {
      MutexLock lock(&mutex_);
      if (closed_ || !opened_) return;
    }
    discardAll(false);
    shutDown();
  }

  void shutDown() {
    {
      MutexLock lock(&mutex_);
      closed_ = true;
    }
    wake_.notifyAll();
    if (thread_.joinable()) thread_.join();
  }

  // The playback thread: plays the waiting buffers one after the other and
  // notifies each one lateDoneMs after its end.
  void run() {
    MutexLock lock(&mutex_);
    while (!closed_) {
      const Clock::time_point now = Clock::now();
      if (!playing_.empty() && playing_.front().at <= now) {
        Entry entry = std::move(playing_.front());
        playing_.pop_front();
        if (!unchanged(entry)) ++overwrites_;
        played_.insert(played_.end(), entry.buffer->data,
                       entry.buffer->data + entry.buffer->length);
        entry.at += std::chrono::milliseconds(options_.lateDoneMs);
        finished_.push_back(std::move(entry));
        continue;
      }
      if (playing_.empty() && !waiting_.empty() && !paused_) {
        Entry entry = std::move(waiting_.front());
        waiting_.pop_front();
        entry.at = now + std::chrono::milliseconds(options_.bufferMs);
        playing_.push_back(std::move(entry));
        continue;
      }
      if (!finished_.empty() && finished_.front().at <= now) {
        Entry entry = std::move(finished_.front());
        finished_.pop_front();
        if (!unchanged(entry)) ++overwrites_;
        entry.buffer->queued = false;
        ++doneCount_;
        lock.unlock();
        done_(context_, entry.buffer);
        lock.lock();
        continue;
      }
      Clock::time_point next = Clock::time_point::max();
      if (!playing_.empty()) next = playing_.front().at;
      if (!finished_.empty() && finished_.front().at < next) {
        next = finished_.front().at;
      }
      if (next == Clock::time_point::max()) {
        wake_.wait(&mutex_);
      } else {
        wake_.waitUntil(&mutex_, next);
      }
    }
  }

  const Options options_;
  WaveOutDoneCallback done_ = nullptr;
  void* context_ = nullptr;
  std::thread thread_;

  mutable Mutex mutex_;
  CondVar wake_;
  WaveOutFormat format_ GUARDED_BY(mutex_);
  bool opened_ GUARDED_BY(mutex_) = false;
  bool closed_ GUARDED_BY(mutex_) = false;
  bool paused_ GUARDED_BY(mutex_) = false;
  std::deque<Entry> waiting_ GUARDED_BY(mutex_);
  std::deque<Entry> playing_ GUARDED_BY(mutex_);  // at most one
  std::deque<Entry> finished_ GUARDED_BY(mutex_);
  Bytes played_ GUARDED_BY(mutex_);
  int32_t queuedCount_ GUARDED_BY(mutex_) = 0;
  int32_t maxHeld_ GUARDED_BY(mutex_) = 0;
  int32_t overwrites_ GUARDED_BY(mutex_) = 0;
  int32_t invalidQueues_ GUARDED_BY(mutex_) = 0;
  int32_t resets_ GUARDED_BY(mutex_) = 0;
  int32_t doneCount_ GUARDED_BY(mutex_) = 0;
  std::vector<Clock::time_point> queueTimes_ GUARDED_BY(mutex_);
};

class PacedWaveOut::Device final : public WaveOutDevice {
 public:
  explicit Device(std::shared_ptr<PacedWaveOut> core)
      : core_(std::move(core)) {}
  ~Device() override { close(); }
  int32_t prepare(WaveOutBuffer* buffer) override {
    return core_->prepare(buffer);
  }
  int32_t queue(WaveOutBuffer* buffer) override { return core_->queue(buffer); }
  int32_t reset() override { return core_->reset(); }
  int32_t unprepare(WaveOutBuffer* buffer) override {
    return core_->unprepare(buffer);
  }
  void close() override { core_->close(); }

 private:
  std::shared_ptr<PacedWaveOut> core_;
};

inline int32_t PacedWaveOut::open(const WaveOutFormat& format,
                                  WaveOutDoneCallback done, void* context,
                                  std::unique_ptr<WaveOutDevice>* device) {
  if (options_.openResult != kWaveOutOk) return options_.openResult;
  {
    MutexLock lock(&mutex_);
    format_ = format;
    opened_ = true;
  }
  done_ = done;
  context_ = context;
  thread_ = std::thread(&PacedWaveOut::run, this);
  device->reset(new Device(shared_from_this()));
  return kWaveOutOk;
}

}  // namespace paced_wave_out
