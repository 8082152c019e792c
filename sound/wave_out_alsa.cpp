// The wave-out layer over ALSA: PCM "default", so the user's ALSA,
// PulseAudio or PipeWire set-up chooses the device.
//
// One playback thread per device owns the PCM once the device is open. It
// writes the queued buffers in order (non-blocking, so a request never waits
// behind a full device), and hands a buffer back only when the device has
// played its last frame, judged from the PCM's delay; an underrun means that
// everything written has been played. The device-side buffer is kept at
// 100 ms, so what the listener hears stays close to what was queued.
//
// A PCM call may block for good (see pcm_alsa.h), so the playback thread
// makes its PCM calls, the close included, without holding the lock that
// the caller's requests need. A reset or close that waits too long for the
// thread gives up on it (Playback::abandon); the thread then cleans up after
// itself whenever its call returns.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "sound/pcm_alsa.h"
#include "sound/wave_out.h"
#include "support/crash_handler.h"
#include "support/mutex.h"

namespace {

using Clock = std::chrono::steady_clock;

// The PCM's own buffer: the most audio that has left our queue but has not
// been heard yet.
constexpr unsigned kDeviceBufferMicroseconds = 100000;
// The longest the playback thread waits for the PCM before it looks at the
// caller's requests (reset, close) again.
constexpr int kPcmWaitMs = 20;
// How long the queue must have run dry before the PCM is started with less
// than its start threshold: two buffers of a live source at 32 ms each.
constexpr int kDryStartMs = 64;

thread_local char openFailureDetail[128] = "";

// A queue of buffers linked through WaveOutBuffer::next.
struct BufferFifo {
  WaveOutBuffer* head = nullptr;
  WaveOutBuffer* tail = nullptr;

  bool empty() const { return head == nullptr; }
  void push(WaveOutBuffer* buffer) {
    buffer->next = nullptr;
    if (tail != nullptr) {
      tail->next = buffer;
    } else {
      head = buffer;
    }
    tail = buffer;
  }
  WaveOutBuffer* pop() {
    WaveOutBuffer* buffer = head;
    head = buffer->next;
    if (head == nullptr) tail = nullptr;
    buffer->next = nullptr;
    return buffer;
  }
};

// What a device shares with its playback thread. The thread holds a
// reference of its own: when the device gives up on a thread stuck in a PCM
// call (abandon), the thread finds this intact whenever the call returns,
// closes the PCM and lets it go.
class Playback {
 public:
  Playback(PcmHandle pcm, int32_t frameBytes, int32_t samplesPerSecond,
           WaveOutDoneCallback done, void* context)
      : pcm_(std::move(pcm)),
        frameBytes_(frameBytes),
        samplesPerSecond_(samplesPerSecond),
        done_(done),
        context_(context) {}

  int32_t prepare(WaveOutBuffer* buffer) {
    MutexLock lock(&mutex_);
    if (buffer->prepared || buffer->data == nullptr || buffer->length <= 0 ||
        buffer->length % frameBytes_ != 0) {
      return kWaveOutInvalid;
    }
    buffer->prepared = true;
    buffer->queued = false;
    return kWaveOutOk;
  }

  int32_t queue(WaveOutBuffer* buffer) {
    {
      MutexLock lock(&mutex_);
      if (closing_ || abandoned_ || !buffer->prepared || buffer->queued) {
        return kWaveOutInvalid;
      }
      buffer->queued = true;
      queued_.push(buffer);
    }
    wake_.notifyOne();
    return kWaveOutOk;
  }

  int32_t reset() {
    MutexLock lock(&mutex_);
    if (closing_ || abandoned_) return kWaveOutInvalid;
    resetRequested_ = true;
    wake_.notifyOne();
    if (awaitThread([this]() REQUIRES(mutex_) { return !resetRequested_; })) {
      return kWaveOutOk;
    }
    abandon();
    return kWaveOutTimedOut;
  }

  int32_t unprepare(WaveOutBuffer* buffer) {
    MutexLock lock(&mutex_);
    if (!buffer->prepared) return kWaveOutInvalid;
    if (buffer->queued) return kWaveOutStillQueued;
    buffer->prepared = false;
    return kWaveOutOk;
  }

  // Asks the thread to hand everything back, close the PCM and end. True
  // when it has ended (join it); false when it was abandoned (detach it).
  // Every buffer has been handed back either way.
  bool close() {
    MutexLock lock(&mutex_);
    if (abandoned_) return finished_;
    if (!closing_) {
      closing_ = true;
      wake_.notifyOne();
    }
    if (awaitThread([this]() REQUIRES(mutex_) { return finished_; })) {
      return true;
    }
    abandon();
    return false;
  }

  // The playback thread.
  void run() {
    MutexLock lock(&mutex_);
    while (step()) {
    }
    lock.unlock();
    pcm_.reset();
    lock.lock();
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

  // Gives up on the thread: from now on it touches neither the buffers nor
  // the callback, and ends as soon as its PCM call returns. Hands back on
  // the caller's thread everything the thread held.
  // REQUIRES: !inCallback_.
  void abandon() REQUIRES(mutex_) {
    if (abandoned_) return;
    abandoned_ = true;
    wake_.notifyOne();
    BufferFifo back;
    while (!written_.empty()) back.push(written_.pop());
    while (!queued_.empty()) back.push(queued_.pop());
    for (WaveOutBuffer* b = back.head; b != nullptr; b = b->next) {
      b->queued = false;
    }
    mutex_.unlock();
    while (!back.empty()) done_(context_, back.pop());
    mutex_.lock();
  }

  // One round of the playback thread. Returns false when it is to end.
  bool step() REQUIRES(mutex_) {
    if (abandoned_) return false;
    if (resetRequested_ || closing_) {
      mutex_.unlock();
      snd_pcm_drop(pcm_.get());
      snd_pcm_prepare(pcm_.get());
      mutex_.lock();
      if (abandoned_) return false;
      discardAll();
      resetRequested_ = false;
      settled_.notifyAll();
      return !closing_;
    }
    if (!queued_.empty()) {
      if (!writeFront()) {
        mutex_.unlock();
        waitForRoom();
        mutex_.lock();
      }
      handBackPlayed();
      return true;
    }
    handBackPlayed();
    if (abandoned_ || resetRequested_ || closing_ || !queued_.empty()) {
      return true;
    }
    if (written_.empty()) {
      wake_.wait(&mutex_);
      return true;
    }
    mutex_.unlock();
    startWhenDry();
    mutex_.lock();
    if (abandoned_ || resetRequested_ || closing_ || !queued_.empty()) {
      return true;
    }
    wake_.waitFor(&mutex_, std::chrono::milliseconds(msUntilHeadPlayed()));
    return true;
  }

  // Writes what the PCM takes of the oldest queued buffer. Returns false
  // when the PCM had no room. A buffer the PCM refuses for good is handed
  // back unplayed.
  bool writeFront() REQUIRES(mutex_) {
    WaveOutBuffer* buffer = queued_.head;
    const int64_t frames = buffer->length / frameBytes_;
    const size_t from = static_cast<size_t>(frontOffset_ * frameBytes_);
    const size_t to = static_cast<size_t>(buffer->length);
    // The PCM gets a copy: a call that outlives the device must not read
    // the caller's memory.
    try {
      staging_.assign(buffer->data + from, buffer->data + to);
    } catch (const std::bad_alloc&) {
      frontOffset_ = 0;
      handBack(queued_.pop());
      return true;
    }
    mutex_.unlock();
    snd_pcm_sframes_t written =
        snd_pcm_writei(pcm_.get(), staging_.data(),
                       static_cast<snd_pcm_uframes_t>(frames - frontOffset_));
    if (written < 0 && written != -EAGAIN &&
        snd_pcm_recover(pcm_.get(), static_cast<int>(written), 1) == 0) {
      written = 0;  // underrun or suspend recovered: write again
    }
    mutex_.lock();
    if (abandoned_) return true;
    if (written == -EAGAIN) return false;
    if (written < 0) {
      frontOffset_ = 0;
      handBack(queued_.pop());
      return true;
    }
    frontOffset_ += written;
    framesWritten_ += written;
    if (written > 0) lastWrite_ = Clock::now();
    if (frontOffset_ == frames) {
      frontOffset_ = 0;
      queued_.pop();
      buffer->endFrame = framesWritten_;
      written_.push(buffer);
    }
    return true;
  }

  // The PCM starts by itself once it holds its start threshold (its whole
  // buffer), which gives a live source that much cushion against jitter.
  // When the source has stopped delivering (the end of the input) the
  // threshold may never be reached: start what the PCM holds once nothing
  // has been written for kDryStartMs. Called without the lock.
  void startWhenDry() {
    snd_pcm_t* pcm = pcm_.get();
    if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED &&
        Clock::now() - lastWrite_ >= std::chrono::milliseconds(kDryStartMs)) {
      snd_pcm_start(pcm);
    }
  }

  // Waits up to kPcmWaitMs for room in the PCM. Called without the lock.
  void waitForRoom() {
    snd_pcm_t* pcm = pcm_.get();
    // A full PCM that has not started (its start threshold lies beyond its
    // buffer, as some plugins set it) would never make room.
    if (snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED) snd_pcm_start(pcm);
    const int rc = snd_pcm_wait(pcm, kPcmWaitMs);
    if (rc < 0 && snd_pcm_recover(pcm, rc, 1) < 0) {
      // The PCM is gone for good: do not spin on it.
      std::this_thread::sleep_for(std::chrono::milliseconds(kPcmWaitMs));
    }
  }

  // Hands back, in order, the written buffers the device has played.
  void handBackPlayed() REQUIRES(mutex_) {
    if (abandoned_ || written_.empty()) return;
    mutex_.unlock();
    updatePlayed();
    mutex_.lock();
    while (!abandoned_ && !written_.empty() &&
           written_.head->endFrame <= framesPlayed_) {
      handBack(written_.pop());
    }
  }

  // Advances framesPlayed_ from the PCM's delay. Called without the lock.
  void updatePlayed() {
    snd_pcm_t* pcm = pcm_.get();
    const Clock::time_point now = Clock::now();
    snd_pcm_sframes_t delay = 0;
    const int rc = snd_pcm_delay(pcm, &delay);
    int64_t played = framesPlayed_;
    if (rc == -EPIPE || rc == -ESTRPIPE ||
        (rc == 0 && snd_pcm_state(pcm) == SND_PCM_STATE_XRUN)) {
      // After an underrun the device has played everything it was given,
      // whatever delay a plugin still reports (the pulse plugin reports
      // one); after a suspend what it held is lost. Either way it is done.
      played = framesWritten_;
      snd_pcm_recover(pcm, rc < 0 ? rc : -EPIPE, 1);
    } else if (rc == 0) {
      played = framesWritten_ - std::clamp<int64_t>(delay, 0, framesWritten_);
    } else {
      // The PCM cannot tell (the pulse plugin, while its stream connects):
      // assume it has played at its rate since the last answer, so that
      // buffers still come back if it never answers again.
      const int64_t elapsedMs =
          std::chrono::duration_cast<std::chrono::milliseconds>(now -
                                                                measuredAt_)
              .count();
      played = playedAtMeasure_ + elapsedMs * samplesPerSecond_ / 1000;
    }
    // Handing a buffer back cannot be undone: never go backwards.
    framesPlayed_ = std::clamp<int64_t>(played, framesPlayed_, framesWritten_);
    if (rc == 0 || rc == -EPIPE || rc == -ESTRPIPE) {
      measuredAt_ = now;
      playedAtMeasure_ = framesPlayed_;
    }
  }

  // How long until the oldest written buffer will have been played, limited
  // to kPcmWaitMs.
  int64_t msUntilHeadPlayed() const REQUIRES(mutex_) {
    const int64_t frames = written_.head->endFrame - framesPlayed_;
    const int64_t ms = frames * 1000 / samplesPerSecond_ + 1;
    return std::clamp<int64_t>(ms, 1, kPcmWaitMs);
  }

  // After the PCM has been dropped: hands back everything written or
  // queued, oldest first.
  void discardAll() REQUIRES(mutex_) {
    frontOffset_ = 0;
    framesPlayed_ = framesWritten_;
    playedAtMeasure_ = framesPlayed_;
    measuredAt_ = Clock::now();
    while (!written_.empty()) handBack(written_.pop());
    while (!queued_.empty()) handBack(queued_.pop());
  }

  // Marks `buffer` as the caller's again and notifies the caller, without
  // holding the lock during the callback.
  void handBack(WaveOutBuffer* buffer) REQUIRES(mutex_) {
    buffer->queued = false;
    inCallback_ = true;
    mutex_.unlock();
    done_(context_, buffer);
    mutex_.lock();
    inCallback_ = false;
    settled_.notifyAll();
  }

  PcmHandle pcm_;  // touched by the playback thread only, once it runs
  const int32_t frameBytes_;
  const int32_t samplesPerSecond_;
  const WaveOutDoneCallback done_;
  void* const context_;

  Mutex mutex_;
  CondVar wake_;     // the playback thread: work or request
  CondVar settled_;  // the caller: the thread answered
  // Not yet written, in order.
  BufferFifo queued_ GUARDED_BY(mutex_);
  // Written to the PCM, not yet played, in order.
  BufferFifo written_ GUARDED_BY(mutex_);
  bool resetRequested_ GUARDED_BY(mutex_) = false;
  bool closing_ GUARDED_BY(mutex_) = false;
  // The caller gave up on the thread.
  bool abandoned_ GUARDED_BY(mutex_) = false;
  // The thread is in the done callback.
  bool inCallback_ GUARDED_BY(mutex_) = false;
  // The thread has closed the PCM and ended.
  bool finished_ GUARDED_BY(mutex_) = false;
  // Touched by the playback thread only:
  std::vector<uint8_t> staging_;  // what the PCM is being given
  int64_t frontOffset_ = 0;       // frames of queued_.head already written
  int64_t framesWritten_ = 0;     // since opening
  int64_t framesPlayed_ = 0;      // since opening, as last measured
  Clock::time_point lastWrite_;   // of the last frames written
  Clock::time_point measuredAt_ = Clock::now();  // of the last delay answer
  int64_t playedAtMeasure_ = 0;                  // framesPlayed_ at measuredAt_
};

void runPlayback(std::shared_ptr<Playback> playback) {
  const CrashThreadStack crashStack = crashHandlerThreadAttach();
  playback->run();
}

class AlsaWaveOut final : public WaveOutDevice {
 public:
  explicit AlsaWaveOut(std::shared_ptr<Playback> playback)
      : playback_(std::move(playback)) {}
  ~AlsaWaveOut() override { close(); }

  // Starts the playback thread. False when no thread could be had.
  bool start() {
    try {
      thread_ = std::thread(runPlayback, playback_);
    } catch (const std::system_error&) {
      return false;
    }
    return true;
  }

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
  PcmHandle pcm;
  int error = 0;
  const int32_t opened = pcmOpenDefault(format, kDeviceBufferMicroseconds,
                                        stopFlag, &pcm, &error);
  if (opened != kWaveOutOk) {
    if (error < 0) {
      std::snprintf(openFailureDetail, sizeof openFailureDetail, "%s",
                    snd_strerror(error));
    }
    return opened;
  }
  std::unique_ptr<AlsaWaveOut> out;
  try {
    out = std::make_unique<AlsaWaveOut>(std::make_shared<Playback>(
        std::move(pcm), format.channels * 2, format.samplesPerSecond, done,
        context));
  } catch (const std::bad_alloc&) {
    return kWaveOutNoMemory;
  }
  if (!out->start()) return kWaveOutNoMemory;
  *device = std::move(out);
  return kWaveOutOk;
}

int32_t waveOutOpen(const WaveOutFormat& format, WaveOutDoneCallback done,
                    void* context, std::unique_ptr<WaveOutDevice>* device) {
  return waveOutOpenUntilStop(format, done, context, device, nullptr);
}

const char* waveOutOpenFailureDetail() { return openFailureDetail; }
