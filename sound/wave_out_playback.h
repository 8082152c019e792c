// The wave-out device protocol, written once over a small platform backend.
//
// One device thread per device makes every backend call, the open included:
// the system may hold a call for long, and the caller must never wait
// longer than the limits of wave_out.h. The protocol keeps the queues, the
// requests (reset, close) and their bounded waits; a request that waits too
// long gives up on the thread (abandon), which then closes the device
// whenever its call returns and lets everything go.
//
// The device plays copies of the caller's buffers, made at `queue`: a call
// that outlives the device never reads the caller's memory.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "sound/wave_out.h"

// The platform's device, as the protocol drives it. Every call but `wake`
// is made by the device thread without the protocol's lock held, and may
// block; `wake` may be called from any thread and must not block.
class WaveOutBackend {
 public:
  enum class Submitted {
    kTaken,    // the device holds all the bytes until played or dropped
    kAgain,    // not all taken yet: offer the same bytes again
    kRefused,  // the device will not play them
  };

  virtual ~WaveOutBackend() = default;

  // Opens the device. kWaveOutOk, or a failure of WaveOutResult with the
  // system's reason text in `detail` (left "" when there is none).
  virtual int32_t open(char* detail, size_t size) = 0;

  // Offers the bytes of the oldest queued buffer; `length` is a positive
  // multiple of the frame size. May wait a little for room (kAgain).
  virtual Submitted submit(const uint8_t* data, int32_t length) = 0;

  // How many of the oldest taken buffers have been played since the last
  // call (each is counted once, in the order taken).
  virtual int32_t collectPlayed() = 0;

  // Stops playback at once and discards every buffer taken or partly taken.
  virtual void dropAll() = 0;

  // Waits for `wake` or a buffer played: while the device holds buffers at
  // most a short poll interval, otherwise for as long as it takes. A `wake`
  // before the wait ends the next wait at once.
  virtual void wait() = 0;
  virtual void wake() = 0;

  // Stops the device and releases it; the last call.
  virtual void close() = 0;
};

// This platform's backend for `format`. kWaveOutOk with it in *backend, or
// kWaveOutBadFormat or kWaveOutNoMemory. Opens nothing yet.
[[nodiscard]] int32_t waveOutMakeBackend(
    const WaveOutFormat& format, std::unique_ptr<WaveOutBackend>* backend);

// As waveOutOpenUntilStop over `backend` (the platform's, or a stand-in).
// REQUIRES: `format` is valid (16 bits, at least one channel and sample).
[[nodiscard]] int32_t waveOutOpenOn(std::unique_ptr<WaveOutBackend> backend,
                                    const WaveOutFormat& format,
                                    WaveOutDoneCallback done, void* context,
                                    std::unique_ptr<WaveOutDevice>* device,
                                    const std::atomic<int32_t>* stopFlag);
