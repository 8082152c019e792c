// Sound device sink: the AudioSink that plays the audio currency on the
// default sound output, the first channel on the left.
//
// Each A-law byte becomes one 16-bit sample, so the device plays 8000
// two-channel frames per second. The samples go to the wave-out device in a
// ring of 64 buffers of 1024 bytes (32 ms each, 2.048 s in all), prepared
// once at opening. A free-buffer semaphore counts the buffers the device has
// handed back: `write` takes a unit before it fills a buffer, so it never
// rewrites audio the device still holds, and a source faster than real time
// (a WAV file) is paced by the device. That wait ends when a stop is
// requested.
//
// `close` at the normal end of the input lets the queued audio play out
// (bounded by the ring), then stops the device; once a stop has been
// requested it discards the queued audio at once. A partly filled last
// buffer is never played.
//
// Thread-safety: write, close and the destructor run on one thread (the main
// thread). The stop flag may be set from any thread. The device's done
// notifications arrive on its own thread and touch only the semaphore.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/audio_endpoint.h"
#include "sound/wave_out.h"

constexpr int32_t kSoundBufferCount = 64;
constexpr int32_t kSoundBufferBytes = 1024;
// The longest `close` lets queued audio play out at a normal end: the whole
// ring plus the device's own buffer and some slack.
constexpr int32_t kSoundPlayOutLimitMs = 2500;
// The longest any wait of the sink goes without looking at the stop flag.
constexpr int32_t kSoundStopCheckMs = 20;

// The console line for an operator whose computer has no sound output
// (open result kWaveOutNoDevice); soundReportOpenFailure prints it.
extern const char kSoundNoDeviceMessage[];

// Opens the sink on this platform's default playback device. `stopFlag`
// (may be null: never stopped) is the process-wide stop request, 0 until a
// stop; it must outlive the sink. Returns the sink, or nullptr when there is
// no device, it is busy, refuses the format or access, does not answer
// within kWaveOutOpenLimitMs or before a stop, or memory ran out; nothing is
// reported. When `openResult` is given it receives kWaveOutOk or the
// WaveOutResult of the failure.
std::unique_ptr<AudioSink> openSoundDeviceSink(
    const std::atomic<int32_t>* stopFlag, int32_t* openResult = nullptr);

// As openSoundDeviceSink, on the device that `open` opens.
std::unique_ptr<AudioSink> openSoundDeviceSinkWith(
    const WaveOutOpener& open, const std::atomic<int32_t>* stopFlag,
    int32_t* openResult = nullptr);

// Prints, through consoleReport, the one line that tells the operator why
// the sound device could not be opened: kSoundNoDeviceMessage for
// kWaveOutNoDevice, otherwise the reason for `openResult` followed by the
// system's own words when the last failed open on this thread had them.
// Prints nothing for kWaveOutOk.
// REQUIRES: called on the thread that made the failed open.
void soundReportOpenFailure(int32_t openResult);
