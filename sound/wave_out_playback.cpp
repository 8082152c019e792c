#include "sound/wave_out_playback.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <new>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "support/crash_handler.h"
#include "support/mutex.h"

namespace {

using Clock = std::chrono::steady_clock;
using Submitted = WaveOutBackend::Submitted;

// How often an open that waits looks at the stop flag.
constexpr int32_t kStopCheckMs = 20;

thread_local char openFailureDetail[128] = "";

bool stopped(const std::atomic<int32_t>* stopFlag) {
  return stopFlag != nullptr && stopFlag->load() != 0;
}

// A prepared buffer as the device thread sees it. Never moves while it
// exists.
struct Block {
  WaveOutBuffer* buffer = nullptr;
  std::unique_ptr<uint8_t[]> bytes;  // the copy the device plays
  int32_t length = 0;
  Block* next = nullptr;  // in pending_ or taken_
};

// A queue of blocks linked through Block::next.
struct BlockFifo {
  Block* head = nullptr;
  Block* tail = nullptr;

  bool empty() const { return head == nullptr; }
  void push(Block* block) {
    block->next = nullptr;
    if (tail != nullptr) {
      tail->next = block;
    } else {
      head = block;
    }
    tail = block;
  }
  Block* pop() {
    Block* block = head;
    head = block->next;
    if (head == nullptr) tail = nullptr;
    block->next = nullptr;
    return block;
  }
};

// What a device shares with its thread. The thread holds a reference of its
// own: when the device gives up on a thread stuck in a backend call
// (abandon), the thread finds this intact whenever the call returns, closes
// the backend and lets it go.
class Playback {
 public:
  Playback(std::unique_ptr<WaveOutBackend> backend, int32_t frameBytes,
           WaveOutDoneCallback done, void* context)
      : backend_(std::move(backend)),
        frameBytes_(frameBytes),
        done_(done),
        context_(context) {}

  // Waits until the thread has an answer from the backend's open, at most
  // kWaveOutOpenLimitMs and no longer than a stop allows. Returns the
  // open's result with its reason text in `detail`; kWaveOutTimedOut after
  // giving up on the thread.
  int32_t awaitOpen(const std::atomic<int32_t>* stopFlag, char* detail,
                    size_t size) {
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(kWaveOutOpenLimitMs);
    MutexLock lock(&mutex_);
    for (;;) {
      const Clock::time_point slice =
          std::min(deadline, Clock::now() + std::chrono::milliseconds(
                                                kStopCheckMs));
      settled_.waitUntil(&mutex_, slice,
                         [this]() REQUIRES(mutex_) { return openAnswered_; });
      if (openAnswered_) {
        std::snprintf(detail, size, "%s", openDetail_);
        return openResult_;
      }
      if (Clock::now() >= deadline || stopped(stopFlag)) {
        abandoned_ = true;
        backend_->wake();
        return kWaveOutTimedOut;
      }
    }
  }

  int32_t prepare(WaveOutBuffer* buffer) {
    MutexLock lock(&mutex_);
    if (buffer->prepared || buffer->data == nullptr || buffer->length <= 0 ||
        buffer->length % frameBytes_ != 0) {
      return kWaveOutInvalid;
    }
    try {
      auto block = std::make_unique<Block>();
      block->bytes = std::make_unique<uint8_t[]>(
          static_cast<size_t>(buffer->length));
      block->buffer = buffer;
      block->length = buffer->length;
      entries_[buffer] = std::move(block);
    } catch (const std::bad_alloc&) {
      return kWaveOutNoMemory;
    }
    buffer->prepared = true;
    buffer->queued = false;
    return kWaveOutOk;
  }

  int32_t queue(WaveOutBuffer* buffer) {
    MutexLock lock(&mutex_);
    if (closing_ || abandoned_ || !buffer->prepared || buffer->queued) {
      return kWaveOutInvalid;
    }
    const auto found = entries_.find(buffer);
    if (found == entries_.end()) return kWaveOutInvalid;
    Block* block = found->second.get();
    std::memcpy(block->bytes.get(), buffer->data,
                static_cast<size_t>(block->length));
    buffer->queued = true;
    pending_.push(block);
    backend_->wake();
    return kWaveOutOk;
  }

  int32_t reset() {
    MutexLock lock(&mutex_);
    if (closing_ || abandoned_) return kWaveOutInvalid;
    resetRequested_ = true;
    backend_->wake();
    if (awaitThread([this]() REQUIRES(mutex_) { return !resetRequested_; })) {
      return kWaveOutOk;
    }
    abandon();
    return kWaveOutTimedOut;
  }

  int32_t unprepare(WaveOutBuffer* buffer) {
    std::unique_ptr<Block> freed;  // destroyed after the lock is released
    MutexLock lock(&mutex_);
    if (!buffer->prepared) return kWaveOutInvalid;
    if (buffer->queued) return kWaveOutStillQueued;
    const auto found = entries_.find(buffer);
    if (found != entries_.end()) {
      freed = std::move(found->second);
      entries_.erase(found);
      // A thread given up on may still be handing the copy to the device.
      if (abandoned_) {
        try {
          kept_.push_back(std::move(freed));
        } catch (const std::bad_alloc&) {
          freed.release();  // left to the device rather than freed under it
        }
      }
    }
    buffer->prepared = false;
    return kWaveOutOk;
  }

  // Asks the thread to hand everything back, close the device and end.
  // True when it has ended (join it); false when it was abandoned (detach
  // it). Every buffer has been handed back either way.
  bool close() {
    MutexLock lock(&mutex_);
    if (abandoned_) return finished_;
    if (!closing_) {
      closing_ = true;
      backend_->wake();
    }
    if (awaitThread([this]() REQUIRES(mutex_) { return finished_; })) {
      return true;
    }
    abandon();
    return false;
  }

  // The device thread.
  void run() {
    char detail[sizeof openDetail_] = "";
    const int32_t opened = backend_->open(detail, sizeof detail);
    MutexLock lock(&mutex_);
    openAnswered_ = true;
    openResult_ = opened;
    std::memcpy(openDetail_, detail, sizeof openDetail_);
    settled_.notifyAll();
    if (opened == kWaveOutOk) {
      while (step()) {
      }
      lock.unlock();
      backend_->close();
      lock.lock();
    }
    finished_ = true;
    settled_.notifyAll();
  }

 private:
  // Waits up to kWaveOutAnswerLimitMs for `answered`, then for any done
  // callback in progress (it touches the caller's objects). Returns
  // answered().
  template <typename Answered>
  bool awaitThread(Answered answered) REQUIRES(mutex_) {
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(kWaveOutAnswerLimitMs);
    if (settled_.waitUntil(&mutex_, deadline, answered)) return true;
    settled_.wait(
        &mutex_, [&]() REQUIRES(mutex_) { return !inCallback_ || answered(); });
    return answered();
  }

  // Gives up on the thread: from now on it touches neither the caller's
  // buffers nor the callback, and ends as soon as its backend call returns.
  // Hands back on the caller's thread everything the thread held.
  // REQUIRES: !inCallback_.
  void abandon() REQUIRES(mutex_) {
    if (abandoned_) return;
    abandoned_ = true;
    backend_->wake();
    BlockFifo back;
    while (!taken_.empty()) back.push(taken_.pop());
    while (!pending_.empty()) back.push(pending_.pop());
    for (Block* b = back.head; b != nullptr; b = b->next) {
      b->buffer->queued = false;
    }
    mutex_.unlock();
    for (Block* b = back.head; b != nullptr; b = b->next) {
      done_(context_, b->buffer);
    }
    mutex_.lock();
  }

  // One round of the device thread. Returns false when it is to end.
  bool step() REQUIRES(mutex_) {
    if (abandoned_) return false;
    if (resetRequested_ || closing_) {
      mutex_.unlock();
      backend_->dropAll();
      mutex_.lock();
      if (abandoned_) return false;
      while (!taken_.empty()) handBack(taken_.pop());
      while (!pending_.empty()) handBack(pending_.pop());
      resetRequested_ = false;
      settled_.notifyAll();
      return !closing_;
    }
    if (!pending_.empty()) {
      Block* block = pending_.head;
      mutex_.unlock();
      const Submitted submitted =
          backend_->submit(block->bytes.get(), block->length);
      mutex_.lock();
      if (abandoned_) return false;  // the caller has handed it back
      if (submitted != Submitted::kAgain) {
        pending_.pop();
        if (submitted == Submitted::kTaken) {
          taken_.push(block);
        } else {
          handBack(block);
        }
      }
    }
    handBackPlayed();
    if (abandoned_ || resetRequested_ || closing_ || !pending_.empty()) {
      return true;
    }
    mutex_.unlock();
    backend_->wait();
    mutex_.lock();
    return true;
  }

  // Hands back, in order, the taken blocks the device has played.
  void handBackPlayed() REQUIRES(mutex_) {
    if (abandoned_ || taken_.empty()) return;
    mutex_.unlock();
    int32_t played = backend_->collectPlayed();
    mutex_.lock();
    while (played-- > 0 && !abandoned_ && !taken_.empty()) {
      handBack(taken_.pop());
    }
  }

  // Marks the block's buffer as the caller's again and notifies the caller,
  // without holding the lock during the callback.
  void handBack(Block* block) REQUIRES(mutex_) {
    WaveOutBuffer* buffer = block->buffer;
    buffer->queued = false;
    inCallback_ = true;
    mutex_.unlock();
    done_(context_, buffer);
    mutex_.lock();
    inCallback_ = false;
    settled_.notifyAll();
  }

  const std::unique_ptr<WaveOutBackend> backend_;
  const int32_t frameBytes_;
  const WaveOutDoneCallback done_;
  void* const context_;

  Mutex mutex_;
  CondVar settled_;  // the caller: the thread answered
  std::unordered_map<WaveOutBuffer*, std::unique_ptr<Block>> entries_
      GUARDED_BY(mutex_);
  // Unprepared after the thread was given up on; freed with this.
  std::vector<std::unique_ptr<Block>> kept_ GUARDED_BY(mutex_);
  // Queued, not yet taken by the device, in order.
  BlockFifo pending_ GUARDED_BY(mutex_);
  // Taken by the device, not yet handed back, in order.
  BlockFifo taken_ GUARDED_BY(mutex_);
  bool openAnswered_ GUARDED_BY(mutex_) = false;
  int32_t openResult_ GUARDED_BY(mutex_) = kWaveOutOk;
  char openDetail_[sizeof openFailureDetail] GUARDED_BY(mutex_) = "";
  bool resetRequested_ GUARDED_BY(mutex_) = false;
  bool closing_ GUARDED_BY(mutex_) = false;
  // The caller gave up on the thread.
  bool abandoned_ GUARDED_BY(mutex_) = false;
  // The thread is in the done callback.
  bool inCallback_ GUARDED_BY(mutex_) = false;
  // The thread has closed the device and ends.
  bool finished_ GUARDED_BY(mutex_) = false;
};

void runPlayback(std::shared_ptr<Playback> playback) {
  const CrashThreadStack crashStack = crashHandlerThreadAttach();
  playback->run();
}

class PlaybackDevice final : public WaveOutDevice {
 public:
  explicit PlaybackDevice(std::shared_ptr<Playback> playback)
      : playback_(std::move(playback)) {}
  ~PlaybackDevice() override { close(); }

  // Starts the device thread, which opens the device. False when no thread
  // could be had.
  bool start() {
    try {
      thread_ = std::thread(runPlayback, playback_);
    } catch (const std::system_error&) {
      return false;
    }
    return true;
  }

  // Lets go of a thread whose open was given up on; it closes what it
  // opened by itself.
  void detach() { thread_.detach(); }

  int32_t prepare(WaveOutBuffer* buffer) override {
    return playback_->prepare(buffer);
  }
  int32_t queue(WaveOutBuffer* buffer) override {
    return playback_->queue(buffer);
  }
  int32_t reset() override { return playback_->reset(); }
  int32_t unprepare(WaveOutBuffer* buffer) override {
    return playback_->unprepare(buffer);
  }

  void close() override {
    if (!thread_.joinable()) return;  // closed, or never started
    if (playback_->close()) {
      thread_.join();
    } else {
      thread_.detach();
    }
  }

 private:
  std::shared_ptr<Playback> playback_;
  std::thread thread_;
};

}  // namespace

int32_t waveOutOpenOn(std::unique_ptr<WaveOutBackend> backend,
                      const WaveOutFormat& format, WaveOutDoneCallback done,
                      void* context, std::unique_ptr<WaveOutDevice>* device,
                      const std::atomic<int32_t>* stopFlag) {
  device->reset();
  openFailureDetail[0] = '\0';
  std::shared_ptr<Playback> playback;
  std::unique_ptr<PlaybackDevice> out;
  try {
    playback = std::make_shared<Playback>(std::move(backend),
                                          format.channels * 2, done, context);
    out = std::make_unique<PlaybackDevice>(playback);
  } catch (const std::bad_alloc&) {
    return kWaveOutNoMemory;
  }
  if (!out->start()) return kWaveOutNoMemory;
  const int32_t opened = playback->awaitOpen(stopFlag, openFailureDetail,
                                             sizeof openFailureDetail);
  if (opened == kWaveOutTimedOut) {
    out->detach();
    return opened;
  }
  if (opened != kWaveOutOk) return opened;  // out joins the ended thread
  *device = std::move(out);
  return kWaveOutOk;
}

int32_t waveOutOpenUntilStop(const WaveOutFormat& format,
                             WaveOutDoneCallback done, void* context,
                             std::unique_ptr<WaveOutDevice>* device,
                             const std::atomic<int32_t>* stopFlag) {
  device->reset();
  openFailureDetail[0] = '\0';
  if (format.bitsPerSample != 16 || format.channels < 1 ||
      format.samplesPerSecond < 1) {
    return kWaveOutBadFormat;
  }
  if (stopped(stopFlag)) return kWaveOutTimedOut;
  std::unique_ptr<WaveOutBackend> backend;
  const int32_t made = waveOutMakeBackend(format, &backend);
  if (made != kWaveOutOk) return made;
  return waveOutOpenOn(std::move(backend), format, done, context, device,
                       stopFlag);
}

int32_t waveOutOpen(const WaveOutFormat& format, WaveOutDoneCallback done,
                    void* context, std::unique_ptr<WaveOutDevice>* device) {
  return waveOutOpenUntilStop(format, done, context, device, nullptr);
}

const char* waveOutOpenFailureDetail() { return openFailureDetail; }
