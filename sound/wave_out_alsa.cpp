// The wave-out layer over ALSA: PCM "default", so the user's ALSA,
// PulseAudio or PipeWire set-up chooses the device.
//
// One playback thread per device owns the PCM once the device is open. It
// writes the queued buffers in order (non-blocking, so a request never waits
// behind a full device), and hands a buffer back only when the device has
// played its last frame, judged from the PCM's delay; an underrun means that
// everything written has been played. The device-side buffer is kept at
// 100 ms, so what the listener hears stays close to what was queued.
#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "sound/wave_out.h"

namespace {

// The PCM's own buffer: the most audio that has left our queue but has not
// been heard yet.
constexpr unsigned kDeviceBufferMicroseconds = 100000;
// The longest the playback thread waits for the PCM before it looks at the
// caller's requests (reset, close) again.
constexpr int kPcmWaitMs = 20;
// How long the queue must have run dry before the PCM is started with less
// than its start threshold: two buffers of a live source at 32 ms each.
constexpr int kDryStartMs = 64;

// libasound prints its failures to stderr by itself (eight lines when there
// is no sound card); the caller reports what matters through our result.
void quietAlsaError(const char* /*file*/, int /*line*/,
                    const char* /*function*/, int /*err*/,
                    const char* /*format*/, ...) {}

// libasound keeps a process-wide parsed configuration. It is freed whenever
// the last of our PCMs closes (and after a failed open with none open), so
// a later open reads the configuration afresh and nothing stays allocated
// at exit.
std::mutex& alsaLibraryLock() {
  static std::mutex lock;
  return lock;
}
int openPcmCount = 0;  // guarded by alsaLibraryLock()

int openDefaultPcm(snd_pcm_t** pcm) {
  std::lock_guard<std::mutex> lock(alsaLibraryLock());
  static const bool quiet = (snd_lib_error_set_handler(quietAlsaError), true);
  (void)quiet;
  const int rc =
      snd_pcm_open(pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  if (rc == 0) {
    ++openPcmCount;
  } else if (openPcmCount == 0) {
    snd_config_update_free_global();
  }
  return rc;
}

struct PcmCloser {
  void operator()(snd_pcm_t* pcm) const {
    std::lock_guard<std::mutex> lock(alsaLibraryLock());
    snd_pcm_close(pcm);
    if (--openPcmCount == 0) snd_config_update_free_global();
  }
};
using PcmHandle = std::unique_ptr<snd_pcm_t, PcmCloser>;

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

class AlsaWaveOut final : public WaveOutDevice {
 public:
  AlsaWaveOut(PcmHandle pcm, int32_t frameBytes, int32_t samplesPerSecond,
              WaveOutDoneCallback done, void* context)
      : pcm_(std::move(pcm)),
        frameBytes_(frameBytes),
        samplesPerSecond_(samplesPerSecond),
        done_(done),
        context_(context) {}
  ~AlsaWaveOut() override { close(); }

  // Starts the playback thread. False when no thread could be had.
  bool start() {
    try {
      thread_ = std::thread(&AlsaWaveOut::run, this);
    } catch (const std::system_error&) {
      return false;
    }
    return true;
  }

  int32_t prepare(WaveOutBuffer* buffer) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (buffer->prepared || buffer->data == nullptr || buffer->length <= 0 ||
        buffer->length % frameBytes_ != 0) {
      return kWaveOutInvalid;
    }
    buffer->prepared = true;
    buffer->queued = false;
    return kWaveOutOk;
  }

  int32_t queue(WaveOutBuffer* buffer) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closing_ || !buffer->prepared || buffer->queued) {
        return kWaveOutInvalid;
      }
      buffer->queued = true;
      queued_.push(buffer);
    }
    wake_.notify_one();
    return kWaveOutOk;
  }

  int32_t reset() override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (closing_) return kWaveOutInvalid;
    resetRequested_ = true;
    wake_.notify_one();
    settled_.wait(lock, [this] { return !resetRequested_; });
    return kWaveOutOk;
  }

  int32_t unprepare(WaveOutBuffer* buffer) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!buffer->prepared) return kWaveOutInvalid;
    if (buffer->queued) return kWaveOutStillQueued;
    buffer->prepared = false;
    return kWaveOutOk;
  }

  void close() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closing_) return;
      closing_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
    pcm_.reset();
  }

 private:
  using Clock = std::chrono::steady_clock;
  using Lock = std::unique_lock<std::mutex>;

  void run() {
    Lock lock(mutex_);
    for (;;) {
      if (resetRequested_ || closing_) {
        discardAll(lock);
        resetRequested_ = false;
        settled_.notify_all();
        if (closing_) return;
        continue;
      }
      if (!queued_.empty()) {
        if (!writeFront(lock)) {
          lock.unlock();
          waitForRoom();
          lock.lock();
        }
        handBackPlayed(lock);
        continue;
      }
      handBackPlayed(lock);
      if (resetRequested_ || closing_ || !queued_.empty()) continue;
      if (written_.empty()) {
        wake_.wait(lock);
      } else {
        startWhenDry();
        wake_.wait_for(lock, std::chrono::milliseconds(msUntilHeadPlayed()));
      }
    }
  }

  // Writes what the PCM takes of the oldest queued buffer. Returns false
  // when the PCM had no room. A buffer the PCM refuses for good is handed
  // back unplayed.
  bool writeFront(Lock& lock) {
    WaveOutBuffer* buffer = queued_.head;
    const int64_t frames = buffer->length / frameBytes_;
    const uint8_t* from = buffer->data + frontOffset_ * frameBytes_;
    lock.unlock();
    snd_pcm_sframes_t written =
        snd_pcm_writei(pcm_.get(), from,
                       static_cast<snd_pcm_uframes_t>(frames - frontOffset_));
    if (written < 0 && written != -EAGAIN &&
        snd_pcm_recover(pcm_.get(), static_cast<int>(written), 1) == 0) {
      written = 0;  // underrun or suspend recovered: write again
    }
    lock.lock();
    if (written == -EAGAIN) return false;
    if (written < 0) {
      frontOffset_ = 0;
      handBack(queued_.pop(), lock);
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
  // has been written for kDryStartMs.
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
  void handBackPlayed(Lock& lock) {
    if (written_.empty()) return;
    updatePlayed();
    while (!written_.empty() && written_.head->endFrame <= framesPlayed_) {
      handBack(written_.pop(), lock);
    }
  }

  // Advances framesPlayed_ from the PCM's delay. Called with the lock held;
  // the PCM is touched only by this thread.
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
  int64_t msUntilHeadPlayed() const {
    const int64_t frames = written_.head->endFrame - framesPlayed_;
    const int64_t ms = frames * 1000 / samplesPerSecond_ + 1;
    return std::clamp<int64_t>(ms, 1, kPcmWaitMs);
  }

  // Stops the PCM and hands back everything written or queued, oldest
  // first.
  void discardAll(Lock& lock) {
    snd_pcm_drop(pcm_.get());
    snd_pcm_prepare(pcm_.get());
    frontOffset_ = 0;
    framesPlayed_ = framesWritten_;
    playedAtMeasure_ = framesPlayed_;
    measuredAt_ = Clock::now();
    while (!written_.empty()) handBack(written_.pop(), lock);
    while (!queued_.empty()) handBack(queued_.pop(), lock);
  }

  // Marks `buffer` as the caller's again and notifies the caller, without
  // holding the lock during the callback.
  void handBack(WaveOutBuffer* buffer, Lock& lock) {
    buffer->queued = false;
    lock.unlock();
    done_(context_, buffer);
    lock.lock();
  }

  PcmHandle pcm_;
  const int32_t frameBytes_;
  const int32_t samplesPerSecond_;
  const WaveOutDoneCallback done_;
  void* const context_;

  std::mutex mutex_;
  std::condition_variable wake_;     // the playback thread: work or request
  std::condition_variable settled_;  // reset(): the request is done
  // Guarded by mutex_:
  BufferFifo queued_;   // not yet written, in order
  BufferFifo written_;  // written to the PCM, not yet played, in order
  bool resetRequested_ = false;
  bool closing_ = false;
  // Touched by the playback thread only (and read under mutex_):
  int64_t frontOffset_ = 0;      // frames of queued_.head already written
  int64_t framesWritten_ = 0;    // since opening
  int64_t framesPlayed_ = 0;     // since opening, as last measured
  Clock::time_point lastWrite_;  // of the last frames written
  Clock::time_point measuredAt_ = Clock::now();  // of the last delay answer
  int64_t playedAtMeasure_ = 0;                  // framesPlayed_ at measuredAt_

  std::thread thread_;
};

}  // namespace

int32_t waveOutOpen(const WaveOutFormat& format, WaveOutDoneCallback done,
                    void* context, std::unique_ptr<WaveOutDevice>* device) {
  device->reset();
  if (format.bitsPerSample != 16 || format.channels < 1 ||
      format.samplesPerSecond < 1) {
    return kWaveOutBadFormat;
  }
  snd_pcm_t* raw = nullptr;
  const int opened = openDefaultPcm(&raw);
  if (opened < 0) {
    return opened == -ENOENT || opened == -ENODEV || opened == -ENXIO
               ? kWaveOutNoDevice
               : kWaveOutDeviceRefused;
  }
  PcmHandle pcm(raw);
  const int configured = snd_pcm_set_params(
      raw, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED,
      static_cast<unsigned>(format.channels),
      static_cast<unsigned>(format.samplesPerSecond), 1,
      kDeviceBufferMicroseconds);
  if (configured < 0) {
    return configured == -EINVAL ? kWaveOutBadFormat : kWaveOutDeviceRefused;
  }
  std::unique_ptr<AlsaWaveOut> out(
      new (std::nothrow) AlsaWaveOut(std::move(pcm), format.channels * 2,
                                     format.samplesPerSecond, done, context));
  if (out == nullptr || !out->start()) return kWaveOutNoMemory;
  *device = std::move(out);
  return kWaveOutOk;
}
