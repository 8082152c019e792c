#include "app/main_loop.h"

#include "support/debug_trace.h"

Result runMainLoop(AudioSource* source, AudioSink* sink,
                   const std::atomic<int32_t>& stop, RunMeter* meter) {
  uint8_t block[kBlockSize];
  Result remembered = kResultOk;
  for (;;) {
    if (stop.load()) {
      debugTrace("stop requested, leaving read loop...\n");
      return remembered;
    }
    const Result waited = source->wait(kWaitTimeoutMs);
    if (waited < 0) {
      if (stop.load()) {
        debugTrace("audio input (wait) closed...\n");
        return remembered;
      }
      debugTrace("audio read (wait) error (%d, %d)...\n", waited,
                 stop.load());
      return waited;
    }
    if (waited == 0) continue;
    int32_t count = 0;
    const Result read = source->read(block, kBlockSize, &count);
    // Undecodable frames mark the whole run, whenever they are met.
    if (read == kResultUndecodable) remembered = read;
    if (stop.load()) {
      debugTrace("audio input closed...\n");
      return remembered;
    }
    if (read < 0 && read != kResultUndecodable) {
      debugTrace("audio read error (%d, %d, %d)...\n", read, count,
                 stop.load());
      return read;
    }
    if (count <= 0) {
      debugTrace("audio input closed...\n");
      return remembered;
    }
    if (count > 0) {
      const Result written = sink->write(block, count);
      if (written < 0) {
        debugTrace("audio write error (%d)...\n", written);
        return written;
      }
      if (meter != nullptr) runMeterAdd(meter, block, count);
    }
  }
}
