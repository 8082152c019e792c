// The wave-out backend over the system's waveOut interface: WAVE_MAPPER, so
// the user's default playback device plays.
//
// The system's done callback may call almost nothing: it releases a
// semaphore, which wakes the device thread, and that thread counts the
// played buffers from their headers, in order. Each buffer the system plays
// has its WAVEHDR prepared while the system holds it.
#include <windows.h>
#include <mmsystem.h>

#include <climits>
#include <cstdio>
#include <deque>
#include <memory>
#include <new>
#include <utility>

#include "sound/wave_out_playback.h"

namespace {

using Submitted = WaveOutBackend::Submitted;

// How often the device thread looks at the buffers the system holds when
// no done notification arrives.
constexpr DWORD kDonePollMs = 20;

// The WaveOutResult of a failed waveOutOpen.
int32_t resultOfOpen(MMRESULT result) {
  struct Mapping {
    MMRESULT system;
    int32_t ours;
  };
  static constexpr Mapping kMappings[] = {
      {MMSYSERR_NOERROR, kWaveOutOk},
      {MMSYSERR_BADDEVICEID, kWaveOutNoDevice},
      {MMSYSERR_NODRIVER, kWaveOutNoDevice},
      {WAVERR_BADFORMAT, kWaveOutBadFormat},
      {WAVERR_SYNC, kWaveOutBadFormat},
      {MMSYSERR_ALLOCATED, kWaveOutBusy},
      {MMSYSERR_NOMEM, kWaveOutNoMemory},
  };
  for (const Mapping& mapping : kMappings) {
    if (mapping.system == result) return mapping.ours;
  }
  return kWaveOutDeviceRefused;
}

// The system's done callback: only wakes the device thread.
void CALLBACK waveOutSystemCallback(HWAVEOUT /*device*/, UINT message,
                                    DWORD_PTR instance, DWORD_PTR /*p1*/,
                                    DWORD_PTR /*p2*/) {
  if (message == WOM_DONE) {
    ::ReleaseSemaphore(reinterpret_cast<HANDLE>(instance), 1, nullptr);
  }
}

bool headerFlag(const WAVEHDR& header, DWORD flag) {
  // The system sets the flags on its own thread.
  return (*static_cast<const volatile DWORD*>(&header.dwFlags) & flag) != 0;
}

// The semaphore the system's callback releases once per finished buffer.
// Named after the process, so that two running programs never share it; a
// second device of the same process, or a name taken by another kind of
// object, gets an unnamed one.
HANDLE createDoneSignal() {
  char name[32];
  std::snprintf(name, sizeof name, "WavBuffers%lu",
                static_cast<unsigned long>(::GetCurrentProcessId()));
  HANDLE signal = ::CreateSemaphoreA(nullptr, 0, LONG_MAX, name);
  if (signal != nullptr && ::GetLastError() == ERROR_ALREADY_EXISTS) {
    ::CloseHandle(signal);
    signal = nullptr;
  }
  if (signal == nullptr) {
    signal = ::CreateSemaphoreA(nullptr, 0, LONG_MAX, nullptr);
  }
  return signal;
}

struct HandleCloser {
  void operator()(HANDLE handle) const {
    if (handle != nullptr) ::CloseHandle(handle);
  }
};
using Handle = std::unique_ptr<void, HandleCloser>;

class Win32Backend final : public WaveOutBackend {
 public:
  Win32Backend(const WAVEFORMATEX& format, Handle doneSignal, Handle wake)
      : format_(format),
        doneSignal_(std::move(doneSignal)),
        wake_(std::move(wake)) {}

  int32_t open(char* detail, size_t size) override {
    if (::waveOutGetNumDevs() == 0) return kWaveOutNoDevice;
    const MMRESULT result = ::waveOutOpen(
        &device_, WAVE_MAPPER, &format_,
        reinterpret_cast<DWORD_PTR>(&waveOutSystemCallback),
        reinterpret_cast<DWORD_PTR>(doneSignal_.get()), CALLBACK_FUNCTION);
    if (result == MMSYSERR_NOERROR) return kWaveOutOk;
    if (::waveOutGetErrorTextA(result, detail, static_cast<UINT>(size)) !=
        MMSYSERR_NOERROR) {
      detail[0] = '\0';
    }
    return resultOfOpen(result);
  }

  Submitted submit(const uint8_t* data, int32_t length) override {
    try {
      headers_.emplace_back();
    } catch (const std::bad_alloc&) {
      return Submitted::kRefused;
    }
    WAVEHDR& header = headers_.back();
    header.lpData = reinterpret_cast<LPSTR>(const_cast<uint8_t*>(data));
    header.dwBufferLength = static_cast<DWORD>(length);
    MMRESULT result =
        ::waveOutPrepareHeader(device_, &header, sizeof header);
    if (result == MMSYSERR_NOERROR) {
      result = ::waveOutWrite(device_, &header, sizeof header);
    }
    if (result == MMSYSERR_NOERROR) return Submitted::kTaken;
    unprepare(header);
    headers_.pop_back();
    return Submitted::kRefused;
  }

  int32_t collectPlayed() override {
    int32_t played = 0;
    while (!headers_.empty() && headerFlag(headers_.front(), WHDR_DONE)) {
      unprepare(headers_.front());
      headers_.pop_front();
      ++played;
    }
    return played;
  }

  // After the reset the system holds no buffer.
  void dropAll() override {
    ::waveOutReset(device_);
    releaseHeaders();
  }

  void wait() override {
    const HANDLE signals[2] = {wake_.get(), doneSignal_.get()};
    // A driver may mark a buffer done after its WOM_DONE: look again now
    // and then while the system holds buffers.
    ::WaitForMultipleObjects(2, signals, FALSE,
                             headers_.empty() ? INFINITE : kDonePollMs);
  }

  void wake() override { ::SetEvent(wake_.get()); }

  void close() override {
    ::waveOutReset(device_);
    releaseHeaders();
    ::waveOutClose(device_);
  }

 private:
  void unprepare(WAVEHDR& header) {
    if (headerFlag(header, WHDR_PREPARED)) {
      ::waveOutUnprepareHeader(device_, &header, sizeof header);
    }
  }
  void releaseHeaders() {
    for (WAVEHDR& header : headers_) unprepare(header);
    headers_.clear();
  }

  WAVEFORMATEX format_;
  const Handle doneSignal_;  // released by the system's callback
  const Handle wake_;        // auto-reset: the caller has a request
  HWAVEOUT device_ = nullptr;
  // Of the buffers the system holds, in the order written; a deque, so
  // that a header never moves while the system has it.
  std::deque<WAVEHDR> headers_;
};

}  // namespace

int32_t waveOutMakeBackend(const WaveOutFormat& format,
                           std::unique_ptr<WaveOutBackend>* backend) {
  if (format.channels > 8) return kWaveOutBadFormat;
  WAVEFORMATEX wave{};
  wave.wFormatTag = WAVE_FORMAT_PCM;
  wave.nChannels = static_cast<WORD>(format.channels);
  wave.nSamplesPerSec = static_cast<DWORD>(format.samplesPerSecond);
  wave.nBlockAlign = static_cast<WORD>(format.channels * 2);
  wave.nAvgBytesPerSec = wave.nSamplesPerSec * wave.nBlockAlign;
  wave.wBitsPerSample = 16;
  Handle doneSignal(createDoneSignal());
  Handle wake(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
  if (doneSignal == nullptr || wake == nullptr) return kWaveOutNoMemory;
  try {
    *backend = std::make_unique<Win32Backend>(wave, std::move(doneSignal),
                                              std::move(wake));
  } catch (const std::bad_alloc&) {
    return kWaveOutNoMemory;
  }
  return kWaveOutOk;
}
