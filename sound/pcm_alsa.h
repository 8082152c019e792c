// The ALSA PCM under the wave-out layer: its owner type, and the open of the
// default playback PCM.
//
// Some plugins block in calls that non-blocking mode should cover: a `file`
// plugin whose output is a FIFO blocks in open(2) until the FIFO has a
// reader, and in write(2) while the reader does not read.
//
// libasound keeps a process-wide parsed configuration; it is freed whenever
// no PCM opened here is open or being opened, so a later open reads the
// configuration afresh and nothing stays allocated at exit.
//
// Thread-safety: any thread may open and close PCMs at any time; one PCM is
// used by one thread at a time.
#pragma once

#include <alsa/asoundlib.h>

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
// there is none). May block for good (see above): the wave-out device
// thread calls it, and its caller may give up on that thread.
[[nodiscard]] int32_t pcmOpenDefault(const WaveOutFormat& format,
                                     unsigned bufferMicroseconds,
                                     PcmHandle* pcm, int* error);
