// The ALSA PCM under the wave-out layer: its owner type, and an open of the
// default playback PCM that never holds its caller for long.
//
// Some plugins block in calls that non-blocking mode should cover: a `file`
// plugin whose output is a FIFO blocks in open(2) until the FIFO has a
// reader, and in write(2) while the reader does not read. So the open runs
// on a thread of its own, which the caller may abandon.
//
// libasound keeps a process-wide parsed configuration; it is freed whenever
// no PCM opened here is open or being opened, so a later open reads the
// configuration afresh and nothing stays allocated at exit.
//
// Thread-safety: any thread may open and close PCMs at any time; one PCM is
// used by one thread at a time.
#pragma once

#include <alsa/asoundlib.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "sound/wave_out.h"

struct PcmCloser {
  void operator()(snd_pcm_t* pcm) const;
};
// An open PCM; closing it may block as its calls may (see above).
using PcmHandle = std::unique_ptr<snd_pcm_t, PcmCloser>;

// Opens the default playback PCM in non-blocking mode and configures it for
// `format` (interleaved S16_LE, resampling allowed, a device buffer of
// `bufferMicroseconds`). Returns kWaveOutOk with the PCM in *pcm, or a
// failure of WaveOutResult with the ALSA error behind it in *error (0 when
// there is none): kWaveOutTimedOut when the system has not answered after
// kWaveOutOpenLimitMs, or within about 20 ms of *stopFlag becoming nonzero
// (`stopFlag` may be null). A PCM the system opens after that is closed
// again unseen.
[[nodiscard]] int32_t pcmOpenDefault(const WaveOutFormat& format,
                                     unsigned bufferMicroseconds,
                                     const std::atomic<int32_t>* stopFlag,
                                     PcmHandle* pcm, int* error);
