#include "sound/pcm_alsa.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <new>
#include <system_error>
#include <thread>

#include "support/crash_handler.h"
#include "support/mutex.h"

namespace {

using Clock = std::chrono::steady_clock;

// How often a waiting open looks at the stop flag.
constexpr int kOpenStopCheckMs = 20;

// libasound prints its failures to stderr by itself (eight lines when there
// is no sound card); the caller reports what matters through our result.
void quietAlsaError(const char* /*file*/, int /*line*/,
                    const char* /*function*/, int /*err*/,
                    const char* /*format*/, ...) {}

// Never destroyed: an abandoned thread may still close its PCM at exit.
Mutex& alsaLibraryLock() {
  static Mutex* const lock = new Mutex;
  return *lock;
}
// PCMs open or being opened.
int pcmUsers GUARDED_BY(alsaLibraryLock()) = 0;

void endPcmUse() {
  MutexLock lock(&alsaLibraryLock());
  if (--pcmUsers == 0) snd_config_update_free_global();
}

// May block for good: called without any lock held.
int openDefaultPcm(snd_pcm_t** pcm) {
  {
    MutexLock lock(&alsaLibraryLock());
    static const bool quiet = (snd_lib_error_set_handler(quietAlsaError), true);
    (void)quiet;
    ++pcmUsers;
  }
  const int rc =
      snd_pcm_open(pcm, "default", SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
  if (rc < 0) endPcmUse();
  return rc;
}

// Turns the error of a failed snd_pcm_open (`configuring` false) or
// snd_pcm_set_params (true) into our result.
int32_t alsaOpenResult(int error, bool configuring) {
  switch (-error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return configuring ? kWaveOutDeviceRefused : kWaveOutNoDevice;
    case EINVAL:
      return configuring ? kWaveOutBadFormat : kWaveOutDeviceRefused;
    case EBUSY:
    case EAGAIN:
      return kWaveOutBusy;
    case EACCES:
    case EPERM:
      return kWaveOutDenied;
    case ENOMEM:
      return kWaveOutNoMemory;
    default:
      return kWaveOutDeviceRefused;
  }
}

// An open and configuration running on a thread of their own; shared by
// that thread and the opener, so whichever lets go last frees it.
struct PendingOpen {
  Mutex mutex;
  CondVar answered;
  // The calls below have returned.
  bool finished GUARDED_BY(mutex) = false;
  // The opener gave up: the thread cleans up.
  bool abandoned GUARDED_BY(mutex) = false;
  int error GUARDED_BY(mutex) = 0;  // of the call that failed, or 0
  // The failed call was snd_pcm_set_params.
  bool configuring GUARDED_BY(mutex) = false;
  PcmHandle pcm GUARDED_BY(mutex);
};

void openInBackground(const std::shared_ptr<PendingOpen>& pending,
                      WaveOutFormat format, unsigned bufferMicroseconds) {
  const CrashThreadStack crashStack = crashHandlerThreadAttach();
  snd_pcm_t* raw = nullptr;
  int error = openDefaultPcm(&raw);
  PcmHandle pcm(error == 0 ? raw : nullptr);
  const bool configuring = error == 0;
  if (configuring) {
    error = snd_pcm_set_params(raw, SND_PCM_FORMAT_S16_LE,
                               SND_PCM_ACCESS_RW_INTERLEAVED,
                               static_cast<unsigned>(format.channels),
                               static_cast<unsigned>(format.samplesPerSecond),
                               1, bufferMicroseconds);
    if (error < 0) pcm.reset();
  }
  MutexLock lock(&pending->mutex);
  pending->finished = true;
  // Abandoned: `pcm` closes once the lock is released, as nobody waits.
  if (pending->abandoned) return;
  pending->error = error;
  pending->configuring = configuring;
  pending->pcm = std::move(pcm);
  pending->answered.notifyOne();
}

bool stopped(const std::atomic<int32_t>* stopFlag) {
  return stopFlag != nullptr && stopFlag->load() != 0;
}

// Waits for `pending` to finish, up to kWaveOutOpenLimitMs or a stop.
// False, the open abandoned, when it did not.
bool awaitOpen(PendingOpen& pending, const std::atomic<int32_t>* stopFlag) {
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(kWaveOutOpenLimitMs);
  MutexLock lock(&pending.mutex);
  while (!pending.finished) {
    const Clock::time_point now = Clock::now();
    if (now >= deadline || stopped(stopFlag)) {
      pending.abandoned = true;
      return false;
    }
    pending.answered.waitUntil(
        &pending.mutex,
        std::min(deadline, now + std::chrono::milliseconds(kOpenStopCheckMs)));
  }
  return true;
}

}  // namespace

void PcmCloser::operator()(snd_pcm_t* pcm) const {
  snd_pcm_close(pcm);
  endPcmUse();
}

int32_t pcmOpenDefault(const WaveOutFormat& format,
                       unsigned bufferMicroseconds,
                       const std::atomic<int32_t>* stopFlag, PcmHandle* pcm,
                       int* error) {
  pcm->reset();
  *error = 0;
  if (stopped(stopFlag)) return kWaveOutTimedOut;
  std::shared_ptr<PendingOpen> pending;
  std::thread opener;
  try {
    pending = std::make_shared<PendingOpen>();
    opener = std::thread(openInBackground, pending, format, bufferMicroseconds);
  } catch (const std::bad_alloc&) {
    return kWaveOutNoMemory;
  } catch (const std::system_error&) {
    return kWaveOutNoMemory;
  }
  if (!awaitOpen(*pending, stopFlag)) {
    opener.detach();
    return kWaveOutTimedOut;
  }
  opener.join();
  // Never contended now that the thread has ended; taken so that the shared
  // state is read under its lock like everywhere else (and checked so).
  MutexLock lock(&pending->mutex);
  if (pending->error < 0) {
    *error = pending->error;
    return alsaOpenResult(pending->error, pending->configuring);
  }
  *pcm = std::move(pending->pcm);
  return kWaveOutOk;
}
