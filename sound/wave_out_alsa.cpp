// The wave-out backend over ALSA: PCM "default", so the user's ALSA,
// PulseAudio or PipeWire set-up chooses the device.
//
// It writes the oldest queued buffer non-blocking, so a request never waits
// behind a full device, and counts a buffer played only when the device has
// played its last frame, judged from the PCM's delay; an underrun means that
// everything written has been played. The device-side buffer is kept at
// 100 ms, so what the listener hears stays close to what was queued.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <deque>
#include <new>
#include <thread>

#include "sound/counting_semaphore.h"
#include "sound/pcm_alsa.h"
#include "sound/wave_out_playback.h"

namespace {

using Clock = std::chrono::steady_clock;
using Submitted = WaveOutBackend::Submitted;

// The PCM's own buffer: the most audio that has left our queue but has not
// been heard yet.
constexpr unsigned kDeviceBufferMicroseconds = 100000;
// The longest the device thread waits for the PCM before it looks at the
// caller's requests (reset, close) again.
constexpr int kPcmWaitMs = 20;
// How long the queue must have run dry before the PCM is started with less
// than its start threshold: two buffers of a live source at 32 ms each.
constexpr int kDryStartMs = 64;

class AlsaBackend final : public WaveOutBackend {
 public:
  explicit AlsaBackend(const WaveOutFormat& format)
      : format_(format), frameBytes_(format.channels * 2) {}

  int32_t open(char* detail, size_t size) override {
    int error = 0;
    const int32_t opened =
        pcmOpenDefault(format_, kDeviceBufferMicroseconds, &pcm_, &error);
    if (opened != kWaveOutOk && error < 0) {
      std::snprintf(detail, size, "%s", snd_strerror(error));
    }
    return opened;
  }

  // Writes what the PCM takes of the buffer, from where the last call left
  // off.
  Submitted submit(const uint8_t* data, int32_t length) override {
    const int64_t frames = length / frameBytes_;
    snd_pcm_sframes_t written = snd_pcm_writei(
        pcm_.get(), data + frontOffset_ * frameBytes_,
        static_cast<snd_pcm_uframes_t>(frames - frontOffset_));
    if (written < 0 && written != -EAGAIN &&
        snd_pcm_recover(pcm_.get(), static_cast<int>(written), 1) == 0) {
      written = 0;  // underrun or suspend recovered: write again
    }
    if (written == -EAGAIN) {
      waitForRoom();
      return Submitted::kAgain;
    }
    if (written < 0) {
      frontOffset_ = 0;
      return Submitted::kRefused;
    }
    frontOffset_ += written;
    framesWritten_ += written;
    if (written > 0) lastWrite_ = Clock::now();
    if (frontOffset_ < frames) return Submitted::kAgain;
    frontOffset_ = 0;
    try {
      endFrames_.push_back(framesWritten_);
    } catch (const std::bad_alloc&) {
      return Submitted::kRefused;  // the PCM holds its own copy: hand it back
    }
    return Submitted::kTaken;
  }

  int32_t collectPlayed() override {
    if (endFrames_.empty()) return 0;
    updatePlayed();
    int32_t played = 0;
    while (!endFrames_.empty() && endFrames_.front() <= framesPlayed_) {
      endFrames_.pop_front();
      ++played;
    }
    return played;
  }

  void dropAll() override {
    snd_pcm_drop(pcm_.get());
    snd_pcm_prepare(pcm_.get());
    frontOffset_ = 0;
    framesPlayed_ = framesWritten_;
    playedAtMeasure_ = framesPlayed_;
    measuredAt_ = Clock::now();
    endFrames_.clear();
  }

  void wait() override {
    if (endFrames_.empty()) {
      while (!wake_.acquireFor(INT32_MAX)) {
      }
      return;
    }
    startWhenDry();
    wake_.acquireFor(msUntilHeadPlayed());
  }

  void wake() override { wake_.release(); }

  void close() override { pcm_.reset(); }

 private:
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

  // Waits up to kPcmWaitMs for room in the PCM.
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

  // Advances framesPlayed_ from the PCM's delay.
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
      played = playedAtMeasure_ + elapsedMs * format_.samplesPerSecond / 1000;
    }
    // Counting a buffer played cannot be undone: never go backwards.
    framesPlayed_ = std::clamp<int64_t>(played, framesPlayed_, framesWritten_);
    if (rc == 0 || rc == -EPIPE || rc == -ESTRPIPE) {
      measuredAt_ = now;
      playedAtMeasure_ = framesPlayed_;
    }
  }

  // How long until the oldest written buffer will have been played, limited
  // to kPcmWaitMs.
  int32_t msUntilHeadPlayed() const {
    const int64_t frames = endFrames_.front() - framesPlayed_;
    const int64_t ms = frames * 1000 / format_.samplesPerSecond + 1;
    return static_cast<int32_t>(std::clamp<int64_t>(ms, 1, kPcmWaitMs));
  }

  const WaveOutFormat format_;
  const int32_t frameBytes_;
  CountingSemaphore wake_{0, 1};  // a request or new work
  PcmHandle pcm_;
  std::deque<int64_t> endFrames_;  // of each written buffer not yet played
  int64_t frontOffset_ = 0;        // frames of the oldest buffer written
  int64_t framesWritten_ = 0;      // since opening
  int64_t framesPlayed_ = 0;       // since opening, as last measured
  Clock::time_point lastWrite_;    // of the last frames written
  Clock::time_point measuredAt_ = Clock::now();  // of the last delay answer
  int64_t playedAtMeasure_ = 0;                  // framesPlayed_ at measuredAt_
};

}  // namespace

int32_t waveOutMakeBackend(const WaveOutFormat& format,
                           std::unique_ptr<WaveOutBackend>* backend) {
  try {
    *backend = std::make_unique<AlsaBackend>(format);
  } catch (const std::bad_alloc&) {
    return kWaveOutNoMemory;
  }
  return kWaveOutOk;
}
