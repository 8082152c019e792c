// Wave-out: a small playback layer in which the caller lends the device
// buffers of 16-bit PCM and gets each one back through a done notification.
//
// A device plays queued buffers strictly in the order they were queued and
// hands them back in that same order. The caller owns every buffer's memory;
// between `queue` and the done notification the device owns the contents
// and the caller must neither touch nor free them. `reset` ends playback and
// hands back everything still queued, so afterwards no buffer is in use.
//
// The backend of this platform is opened with waveOutOpen (ALSA on Linux;
// the device protocol over it is sound/wave_out_playback.h); tests and
// benchmarks may open any other WaveOutDevice through a WaveOutOpener of
// their own.
//
// The backend never lets the system hold the caller for long: opening gives
// up after kWaveOutOpenLimitMs, and `reset` and `close` after
// kWaveOutAnswerLimitMs, whatever the device does.
//
// Thread-safety: the operations of one device are called from one thread
// at a time. The done callback runs on a thread of the device, or inside
// `reset` and `close` on the caller's thread; either way those two return
// only after the callbacks they cause have run. The callback must be short
// and must not call into the device.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

// The PCM format. Samples are signed 16-bit little-endian, channels
// interleaved.
struct WaveOutFormat {
  int32_t channels = 2;
  int32_t samplesPerSecond = 8000;
  int32_t bitsPerSample = 16;
};

// Results of the operations. Negative values are failures.
enum WaveOutResult : int32_t {
  kWaveOutOk = 0,
  kWaveOutNoDevice = -1,       // the system has no playback device
  kWaveOutBadFormat = -2,      // the device refuses the format
  kWaveOutDeviceRefused = -3,  // the device exists but cannot be opened
  kWaveOutNoMemory = -4,       // memory or a thread could not be had
  kWaveOutInvalid = -5,        // buffer not prepared, or already prepared
  kWaveOutStillQueued = -6,    // unprepare of a buffer the device still holds
  kWaveOutBusy = -7,           // the device is in use by another program
  kWaveOutDenied = -8,         // no permission to use the device
  kWaveOutTimedOut = -9,       // the system did not answer in time
};

// The longest waveOutOpen waits for the system to open the device.
constexpr int32_t kWaveOutOpenLimitMs = 2000;
// The longest the platform's `reset` and `close` wait for the device to
// answer before they give up on it (see `reset`).
constexpr int32_t kWaveOutAnswerLimitMs = 500;

// One buffer lent to the device. The caller sets `data` and `length` before
// `prepare` and keeps both unchanged until `unprepare`; the other fields
// belong to the device.
struct WaveOutBuffer {
  uint8_t* data = nullptr;
  // In bytes; a positive multiple of the frame size (channels * 2).
  int32_t length = 0;

  // Device bookkeeping; callers leave these alone.
  bool prepared = false;
  bool queued = false;
  WaveOutBuffer* next = nullptr;
  int64_t endFrame = 0;
};

// The done notification: `buffer` has been played (or discarded by a reset)
// and is the caller's again. `context` is the value given at opening.
using WaveOutDoneCallback = void (*)(void* context, WaveOutBuffer* buffer);

// An open playback device. Destroying it closes it.
class WaveOutDevice {
 public:
  virtual ~WaveOutDevice() = default;

  // Makes `buffer` usable with this device. kWaveOutOk, or kWaveOutInvalid
  // when it is already prepared or its length is not a positive multiple of
  // the frame size.
  virtual int32_t prepare(WaveOutBuffer* buffer) = 0;

  // Appends `buffer` to the play queue; playback starts by itself. kWaveOutOk,
  // or kWaveOutInvalid when it is not prepared or already queued (the buffer
  // is then not played and no notification follows).
  virtual int32_t queue(WaveOutBuffer* buffer) = 0;

  // Stops playback at once, discarding what is queued but not yet played,
  // and hands every queued buffer back through the done callback before it
  // returns. kWaveOutOk: the device stays open and accepts new buffers.
  // kWaveOutTimedOut: the device stopped answering; everything was handed
  // back all the same, and the device plays nothing more (queue fails).
  // kWaveOutInvalid once closed.
  virtual int32_t reset() = 0;

  // Undoes `prepare`. kWaveOutOk, kWaveOutStillQueued while the device holds
  // the buffer, or kWaveOutInvalid when it is not prepared.
  virtual int32_t unprepare(WaveOutBuffer* buffer) = 0;

  // Resets the device (handing back anything still queued) and releases it.
  // No callback runs after it returns. Idempotent; later operations fail.
  virtual void close() = 0;
};

// Opens a playback device for `format`. On success stores the device in
// *device and returns kWaveOutOk; otherwise returns a failure of
// WaveOutResult (kWaveOutNoDevice, kWaveOutBadFormat, kWaveOutDeviceRefused,
// kWaveOutBusy, kWaveOutDenied, kWaveOutTimedOut, kWaveOutNoMemory) and
// leaves *device empty. `done` is called with `context` for every buffer handed
// back. Reports nothing to the console.
// REQUIRES: `done` and `context` stay valid until the device is closed.
using WaveOutOpener = std::function<int32_t(
    const WaveOutFormat& format, WaveOutDoneCallback done, void* context,
    std::unique_ptr<WaveOutDevice>* device)>;

// This platform's opener (a WaveOutOpener): the user's default playback
// device. Gives up with kWaveOutTimedOut after kWaveOutOpenLimitMs; an
// open the system finishes later is closed again unseen.
[[nodiscard]] int32_t waveOutOpen(const WaveOutFormat& format,
                                  WaveOutDoneCallback done, void* context,
                                  std::unique_ptr<WaveOutDevice>* device);

// As waveOutOpen, also giving up with kWaveOutTimedOut within about 20 ms
// once *stopFlag is nonzero. `stopFlag` may be null (never stopped).
[[nodiscard]] int32_t waveOutOpenUntilStop(
    const WaveOutFormat& format, WaveOutDoneCallback done, void* context,
    std::unique_ptr<WaveOutDevice>* device,
    const std::atomic<int32_t>* stopFlag);

// The system's reason text for the last failed waveOutOpen on the calling
// thread ("" when the system gave none, and after an open that succeeded).
// Valid until the next open on this thread.
const char* waveOutOpenFailureDetail();
