#include "sound/sound_device_sink.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <new>

#include "codecs/g711.h"
#include "sound/counting_semaphore.h"
#include "support/console_report.h"
#include "support/debug_trace.h"

const char kSoundNoDeviceMessage[] = "no audio device available\r\n";

namespace {

// The last failed open of a sink on this thread, for soundReportOpenFailure.
struct OpenFailure {
  int32_t result = kWaveOutOk;
  char detail[128] = "";  // the system's reason text, or ""
};
thread_local OpenFailure lastOpenFailure;

// What the operator is told for each failed open but kWaveOutNoDevice.
struct OpenFailureText {
  int32_t result;
  const char* text;
};
constexpr OpenFailureText kOpenFailureTexts[] = {
    {kWaveOutBadFormat, "audio device refuses the audio format"},
    {kWaveOutBusy, "audio device is busy"},
    {kWaveOutDenied, "no permission to use the audio device"},
    {kWaveOutTimedOut, "audio device did not answer in time"},
    {kWaveOutNoMemory, "not enough memory to open the audio device"},
};
constexpr char kOpenFailureOther[] = "audio device could not be opened";

// One 16-bit sample per currency byte.
constexpr int32_t kSamplesPerBuffer = kSoundBufferBytes / 2;

class SoundDeviceSink final : public AudioSink {
 public:
  ~SoundDeviceSink() override { close(); }
  Result close() override;
  Result write(const uint8_t* bytes, int32_t length) override;

 private:
  friend std::unique_ptr<AudioSink> openSink(
      const WaveOutOpener& open, const std::atomic<int32_t>* stopFlag,
      int32_t& result);
  bool stopRequested() const;
  bool takeFreeBuffer();
  void queueCurrent();
  int32_t playOut();

  // Declared first so that it outlives the device, whose done callbacks
  // release it.
  CountingSemaphore freeBuffers{kSoundBufferCount, kSoundBufferCount};
  std::unique_ptr<uint8_t[]> blocks[kSoundBufferCount];
  WaveOutBuffer buffers[kSoundBufferCount];
  int32_t currentBuffer = 0;
  int32_t fill = 0;  // samples stored in the current buffer
  // True while the current buffer holds a unit of freeBuffers, i.e. from
  // its first sample until it is queued.
  bool holdsCurrent = false;
  const std::atomic<int32_t>* stopFlag = nullptr;
  // Declared last so that it is closed (no callback runs any more) before
  // the buffers and the semaphore go.
  std::unique_ptr<WaveOutDevice> device;
};

bool SoundDeviceSink::stopRequested() const {
  return stopFlag != nullptr && stopFlag->load() != 0;
}

// The device's done notification: the buffer is free again.
void soundBufferDone(void* context, WaveOutBuffer* /*buffer*/) {
  static_cast<CountingSemaphore*>(context)->release();
}

// Takes a unit of the free-buffer semaphore for the current buffer, waiting
// for the device to hand one back. False when a stop is requested or the
// sink closes first.
bool SoundDeviceSink::takeFreeBuffer() {
  if (freeBuffers.acquireFor(0)) return true;
  for (;;) {
    if (stopRequested() || !isOpen()) {
      debugTrace("stop requested while waiting for a free buffer\n");
      return false;
    }
    if (freeBuffers.acquireFor(kSoundStopCheckMs)) return true;
  }
}

// Hands the full current buffer to the device and moves on to the next.
void SoundDeviceSink::queueCurrent() {
  WaveOutBuffer* buffer = &buffers[currentBuffer];
  if (device->queue(buffer) != kWaveOutOk) {
    // Not played, so no done notification will give its unit back.
    freeBuffers.release();
  }
  holdsCurrent = false;
  currentBuffer = (currentBuffer + 1) % kSoundBufferCount;
  fill = 0;
}

Result SoundDeviceSink::write(const uint8_t* bytes, int32_t length) {
  if (!isOpen()) return kResultSoundNotOpen;
  if (bytes == nullptr || length <= 0) return 0;
  int32_t consumed = 0;
  while (consumed < length && isOpen()) {
    if (!holdsCurrent) {
      if (!takeFreeBuffer()) break;
      holdsCurrent = true;
    }
    const int32_t count = std::min(length - consumed, kSamplesPerBuffer - fill);
    uint8_t* out = blocks[currentBuffer].get() + 2 * fill;
    for (int32_t i = 0; i < count; ++i) {
      const uint16_t sample =
          static_cast<uint16_t>(alawToLinear(bytes[consumed + i]));
      out[2 * i] = static_cast<uint8_t>(sample);
      out[2 * i + 1] = static_cast<uint8_t>(sample >> 8);
    }
    consumed += count;
    fill += count;
    if (fill == kSamplesPerBuffer) queueCurrent();
  }
  return consumed;
}

// Lets the device play what is queued: takes back units as buffers come
// back, until all are back, kSoundPlayOutLimitMs have passed or a stop is
// requested. Returns the number of units taken.
int32_t SoundDeviceSink::playOut() {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(kSoundPlayOutLimitMs);
  int32_t taken = 0;
  while (taken < kSoundBufferCount && !stopRequested()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - Clock::now())
                          .count();
    if (left <= 0) {
      debugTrace("queued audio did not play out in time\n");
      break;
    }
    const int32_t slice =
        static_cast<int32_t>(std::min<int64_t>(left, kSoundStopCheckMs));
    if (freeBuffers.acquireFor(slice)) ++taken;
  }
  return taken;
}

Result SoundDeviceSink::close() {
  if (!isOpen()) return kResultOk;
  if (holdsCurrent) {
    // The partly filled buffer was never queued: it is dropped unplayed.
    freeBuffers.release();
    holdsCurrent = false;
    fill = 0;
  }
  int32_t taken = stopRequested() ? 0 : playOut();
  device->reset();
  // The reset has handed every queued buffer back, so the remaining units
  // are all there; a unit that is not only means a faulty device, which the
  // close below silences for good before the blocks are freed.
  for (; taken < kSoundBufferCount; ++taken) {
    if (!freeBuffers.acquireFor(0)) {
      debugTrace("%d audio buffers not handed back\n",
                 kSoundBufferCount - taken);
      break;
    }
  }
  for (int32_t k = 0; k < kSoundBufferCount; ++k) {
    const int32_t index = (currentBuffer + k) % kSoundBufferCount;
    device->unprepare(&buffers[index]);
  }
  device->close();
  device.reset();
  for (std::unique_ptr<uint8_t[]>& block : blocks) block.reset();
  markClosed();
  return kResultOk;
}

std::unique_ptr<AudioSink> openSink(const WaveOutOpener& open,
                                    const std::atomic<int32_t>* stopFlag,
                                    int32_t& result) {
  result = kWaveOutNoMemory;
  debugTrace("opening audio device...\n");
  std::unique_ptr<SoundDeviceSink> sink(new (std::nothrow) SoundDeviceSink);
  if (sink == nullptr) {
    debugTrace("could not allocate memory\n");
    return nullptr;
  }
  sink->stopFlag = stopFlag;

  const WaveOutFormat format;  // 16-bit, 2 channels, 8000 Hz
  result = open(format, soundBufferDone, &sink->freeBuffers, &sink->device);
  if (result != kWaveOutOk || sink->device == nullptr) {
    switch (result) {
      case kWaveOutNoDevice:
        debugTrace("no audio device available\n");
        break;
      case kWaveOutBadFormat:
        debugTrace("Bad audio format\n");
        break;
      case kWaveOutNoMemory:
        debugTrace("could not allocate memory\n");
        break;
      case kWaveOutBusy:
        debugTrace("audio device busy\n");
        break;
      case kWaveOutDenied:
        debugTrace("audio device access denied\n");
        break;
      case kWaveOutTimedOut:
        debugTrace("audio device did not answer\n");
        break;
      default:
        debugTrace("Can't open sound device\n");
        result = kWaveOutDeviceRefused;
        break;
    }
    return nullptr;
  }

  for (int32_t i = 0; i < kSoundBufferCount; ++i) {
    sink->blocks[i].reset(new (std::nothrow) uint8_t[kSoundBufferBytes]);
    if (sink->blocks[i] == nullptr) {
      debugTrace("could not allocate memory\n");
      result = kWaveOutNoMemory;
      return nullptr;
    }
    WaveOutBuffer& buffer = sink->buffers[i];
    buffer.data = sink->blocks[i].get();
    buffer.length = kSoundBufferBytes;
    // A buffer the device refuses is simply not played: its queue fails.
    sink->device->prepare(&buffer);
  }

  sink->markOpen();
  result = kWaveOutOk;
  return sink;
}

}  // namespace

std::unique_ptr<AudioSink> openSoundDeviceSinkWith(
    const WaveOutOpener& open, const std::atomic<int32_t>* stopFlag,
    int32_t* openResult) {
  int32_t ignored = kWaveOutOk;
  int32_t& result = openResult != nullptr ? *openResult : ignored;
  std::unique_ptr<AudioSink> sink = openSink(open, stopFlag, result);
  lastOpenFailure.result = sink == nullptr ? result : kWaveOutOk;
  lastOpenFailure.detail[0] = '\0';
  return sink;
}

std::unique_ptr<AudioSink> openSoundDeviceSink(
    const std::atomic<int32_t>* stopFlag, int32_t* openResult) {
  const WaveOutOpener open = [stopFlag](const WaveOutFormat& format,
                                        WaveOutDoneCallback done, void* context,
                                        std::unique_ptr<WaveOutDevice>* device) {
    return waveOutOpenUntilStop(format, done, context, device, stopFlag);
  };
  std::unique_ptr<AudioSink> sink =
      openSoundDeviceSinkWith(open, stopFlag, openResult);
  if (sink == nullptr) {
    std::snprintf(lastOpenFailure.detail, sizeof lastOpenFailure.detail, "%s",
                  waveOutOpenFailureDetail());
  }
  return sink;
}

void soundReportOpenFailure(int32_t openResult) {
  if (openResult == kWaveOutOk) return;
  if (openResult == kWaveOutNoDevice) {
    consoleReport("%s", kSoundNoDeviceMessage);
    return;
  }
  const char* text = kOpenFailureOther;
  for (const OpenFailureText& entry : kOpenFailureTexts) {
    if (entry.result == openResult) text = entry.text;
  }
  const char* detail =
      lastOpenFailure.result == openResult ? lastOpenFailure.detail : "";
  if (detail[0] != '\0') {
    consoleReport("%s (%Ds)\r\n", text, detail);
  } else {
    consoleReport("%s\r\n", text);
  }
}
