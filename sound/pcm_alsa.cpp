#include "sound/pcm_alsa.h"

#include <cerrno>
#include <utility>

#include "support/mutex.h"

namespace {

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

}  // namespace

void PcmCloser::operator()(snd_pcm_t* pcm) const {
  snd_pcm_close(pcm);
  endPcmUse();
}

int32_t pcmOpenDefault(const WaveOutFormat& format,
                       unsigned bufferMicroseconds, PcmHandle* pcm,
                       int* error) {
  pcm->reset();
  snd_pcm_t* raw = nullptr;
  *error = openDefaultPcm(&raw);
  if (*error < 0) return alsaOpenResult(*error, false);
  PcmHandle opened(raw);
  *error = snd_pcm_set_params(raw, SND_PCM_FORMAT_S16_LE,
                              SND_PCM_ACCESS_RW_INTERLEAVED,
                              static_cast<unsigned>(format.channels),
                              static_cast<unsigned>(format.samplesPerSecond),
                              1, bufferMicroseconds);
  if (*error < 0) return alsaOpenResult(*error, true);
  *pcm = std::move(opened);
  return kWaveOutOk;
}
