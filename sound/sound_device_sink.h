// Sound device sink: the AudioSink that plays the audio currency on the
// default sound output, first channel left.
//
// Thread-safety: used by the main thread only.
#pragma once

#include "app/audio_endpoint.h"

// Opens the default playback device. Returns nullptr when there is none or
// it refuses the format.
AudioSink* openSoundDeviceSink();
