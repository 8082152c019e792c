#include "sound/sound_device_sink.h"

#include "support/debug_trace.h"

// This build has no playback backend yet: there is never a device.
AudioSink* openSoundDeviceSink() {
  debugTrace("no sound device available\n");
  return nullptr;
}
