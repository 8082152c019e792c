// The wave-out layer over the system's waveOut interface: WAVE_MAPPER, so
// the user's default playback device plays.
//
// One device thread per device makes every waveOut call, the open
// included: the system may hold a call for long (open, reset and close wait
// for its audio thread), and the caller must never wait longer than the
// limits of wave_out.h. A reset or close that waits too long gives up on the
// thread (Playback::abandon); the thread closes the device whenever its call
// returns and lets everything go.
//
// The system's done callback may call almost nothing: it releases a
// semaphore, which wakes the device thread, and that thread hands the played
// buffers back, in order, through the caller's done callback.
//
// The system plays device-owned copies of the caller's buffers, made at
// `queue`, each with its WAVEHDR prepared once: a call that outlives the
// device never reads the caller's memory.
#include <windows.h>
#include <mmsystem.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "sound/wave_out.h"
#include "support/crash_handler.h"
#include "support/mutex.h"

namespace {

using Clock = std::chrono::steady_clock;

// How often an open that waits looks at the stop flag.
constexpr int32_t kStopCheckMs = 20;
// How often the device thread looks at the buffers the system holds when
// no done notification arrives.
constexpr DWORD kDonePollMs = 20;

thread_local char openFailureDetail[128] = "";

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

// A prepared buffer as the system sees it. Never moves while it exists.
struct Entry {
  WAVEHDR header{};
  std::unique_ptr<char[]> block;  // the copy the system plays
  WaveOutBuffer* buffer = nullptr;
  DWORD length = 0;             // of block, in bytes
  Entry* next = nullptr;        // in pending_ or playing_
  bool systemPrepared = false;  // waveOutPrepareHeader succeeded
};

// A queue of entries linked through Entry::next.
struct EntryFifo {
  Entry* head = nullptr;
  Entry* tail = nullptr;

  bool empty() const { return head == nullptr; }
  void push(Entry* entry) {
    entry->next = nullptr;
    if (tail != nullptr) {
      tail->next = entry;
    } else {
      head = entry;
    }
    tail = entry;
  }
  Entry* pop() {
    Entry* entry = head;
    head = entry->next;
    if (head == nullptr) tail = nullptr;
    entry->next = nullptr;
    return entry;
  }
};

bool headerFlag(const Entry* entry, DWORD flag) {
  // The system sets the flags on its own thread.
  return (*static_cast<const volatile DWORD*>(&entry->header.dwFlags) &
          flag) != 0;
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

// What a device shares with its thread. The thread holds a reference of its
// own: when the device gives up on a thread stuck in a system call
// (abandon), the thread finds this intact whenever the call returns, closes
// the device and lets it go.
class Playback {
 public:
  Playback(HANDLE doneSignal, HANDLE wake, const WAVEFORMATEX& format,
           WaveOutDoneCallback done, void* context)
      : doneSignal_(doneSignal),
        wake_(wake),
        format_(format),
        done_(done),
        context_(context) {}

  // Waits until the thread has an answer from the system's open, at most
  // kWaveOutOpenLimitMs and no longer than a stop allows. On an answer
  // stores the number of devices and the open's result and returns true;
  // otherwise gives up on the thread and returns false.
  bool awaitOpen(const std::atomic<int32_t>* stopFlag, UINT* devices,
                 MMRESULT* result) {
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(kWaveOutOpenLimitMs);
    MutexLock lock(&mutex_);
    for (;;) {
      const Clock::time_point slice =
          std::min(deadline, Clock::now() + std::chrono::milliseconds(
                                                kStopCheckMs));
      settled_.waitUntil(&mutex_, slice,
                         [this]() REQUIRES(mutex_) { return openAnswered_; });
      if (openAnswered_) {
        *devices = deviceCount_;
        *result = openResult_;
        return true;
      }
      if (Clock::now() >= deadline ||
          (stopFlag != nullptr && stopFlag->load() != 0)) {
        abandoned_ = true;
        ::SetEvent(wake_);
        return false;
      }
    }
  }

  int32_t prepare(WaveOutBuffer* buffer) {
    MutexLock lock(&mutex_);
    if (buffer->prepared || buffer->data == nullptr || buffer->length <= 0 ||
        buffer->length % frameBytes() != 0) {
      return kWaveOutInvalid;
    }
    std::unique_ptr<Entry> entry(new (std::nothrow) Entry);
    if (entry == nullptr) return kWaveOutNoMemory;
    entry->block.reset(new (std::nothrow)
                           char[static_cast<size_t>(buffer->length)]);
    if (entry->block == nullptr) return kWaveOutNoMemory;
    entry->buffer = buffer;
    entry->length = static_cast<DWORD>(buffer->length);
    try {
      entries_[buffer] = std::move(entry);
    } catch (const std::bad_alloc&) {
      return kWaveOutNoMemory;
    }
    buffer->prepared = true;
    buffer->queued = false;
    return kWaveOutOk;
  }

  int32_t queue(WaveOutBuffer* buffer) {
    MutexLock lock(&mutex_);
    if (closing_ || abandoned_ || !buffer->prepared || buffer->queued) {
      return kWaveOutInvalid;
    }
    const auto found = entries_.find(buffer);
    if (found == entries_.end()) return kWaveOutInvalid;
    Entry* entry = found->second.get();
    std::memcpy(entry->block.get(), buffer->data, entry->length);
    buffer->queued = true;
    pending_.push(entry);
    ::SetEvent(wake_);
    return kWaveOutOk;
  }

  int32_t reset() {
    MutexLock lock(&mutex_);
    if (closing_ || abandoned_) return kWaveOutInvalid;
    resetRequested_ = true;
    ::SetEvent(wake_);
    if (awaitThread([this]() REQUIRES(mutex_) { return !resetRequested_; })) {
      return kWaveOutOk;
    }
    abandon();
    return kWaveOutTimedOut;
  }

  int32_t unprepare(WaveOutBuffer* buffer) {
    std::unique_ptr<Entry> freed;  // destroyed after the lock is released
    MutexLock lock(&mutex_);
    if (!buffer->prepared) return kWaveOutInvalid;
    if (buffer->queued) return kWaveOutStillQueued;
    const auto found = entries_.find(buffer);
    if (found != entries_.end()) {
      std::unique_ptr<Entry> entry = std::move(found->second);
      entries_.erase(found);
      // An entry the system knows is unprepared by the thread; once the
      // thread has been given up on, the system may still hold it.
      if (entry->systemPrepared || abandoned_) {
        try {
          retired_.push_back(std::move(entry));
          ::SetEvent(wake_);
        } catch (const std::bad_alloc&) {
          entry.release();  // left to the system rather than freed under it
        }
      } else {
        freed = std::move(entry);
      }
    }
    buffer->prepared = false;
    return kWaveOutOk;
  }

  // Asks the thread to hand everything back, close the device and end.
  // True when it has ended (join it); false when it was abandoned (detach
  // it). Every buffer has been handed back either way.
  bool close() {
    MutexLock lock(&mutex_);
    if (abandoned_) return finished_;
    if (!closing_) {
      closing_ = true;
      ::SetEvent(wake_);
    }
    if (awaitThread([this]() REQUIRES(mutex_) { return finished_; })) {
      return true;
    }
    abandon();
    return false;
  }

  // The device thread.
  void run() {
    const UINT devices = ::waveOutGetNumDevs();
    HWAVEOUT device = nullptr;
    MMRESULT result = MMSYSERR_NODRIVER;
    if (devices > 0) {
      result = ::waveOutOpen(
          &device, WAVE_MAPPER, &format_,
          reinterpret_cast<DWORD_PTR>(&waveOutSystemCallback),
          reinterpret_cast<DWORD_PTR>(doneSignal_), CALLBACK_FUNCTION);
    }
    MutexLock lock(&mutex_);
    openAnswered_ = true;
    deviceCount_ = devices;
    openResult_ = result;
    settled_.notifyAll();
    if (devices > 0 && result == MMSYSERR_NOERROR) {
      device_ = device;
      while (step()) {
      }
      shutDown();
    }
    finished_ = true;
    settled_.notifyAll();
  }

  ~Playback() {
    ::CloseHandle(doneSignal_);
    ::CloseHandle(wake_);
  }

 private:
  int32_t frameBytes() const { return format_.nChannels * 2; }

  // Waits up to kWaveOutAnswerLimitMs for `answered`, then for any done
  // callback in progress (it touches the caller's objects). Returns
  // answered().
  template <typename Answered>
  bool awaitThread(Answered answered) REQUIRES(mutex_) {
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(kWaveOutAnswerLimitMs);
    if (settled_.waitUntil(&mutex_, deadline, answered)) return true;
    settled_.wait(
        &mutex_, [&]() REQUIRES(mutex_) { return !inCallback_ || answered(); });
    return answered();
  }

  // Gives up on the thread: from now on it touches neither the caller's
  // buffers nor the callback, and ends as soon as its system call returns.
  // Hands back on the caller's thread everything the thread held.
  // REQUIRES: !inCallback_.
  void abandon() REQUIRES(mutex_) {
    if (abandoned_) return;
    abandoned_ = true;
    ::SetEvent(wake_);
    EntryFifo back;
    while (!playing_.empty()) back.push(playing_.pop());
    while (!pending_.empty()) back.push(pending_.pop());
    for (Entry* e = back.head; e != nullptr; e = e->next) {
      e->buffer->queued = false;
    }
    mutex_.unlock();
    for (Entry* e = back.head; e != nullptr; e = e->next) {
      done_(context_, e->buffer);
    }
    mutex_.lock();
  }

  // One round of the device thread. Returns false when it is to end.
  bool step() REQUIRES(mutex_) {
    if (abandoned_) return false;
    if (resetRequested_ || closing_) {
      mutex_.unlock();
      ::waveOutReset(device_);
      mutex_.lock();
      if (abandoned_) return false;
      // After the reset the system holds no buffer.
      while (!playing_.empty()) handBack(playing_.pop());
      while (!pending_.empty()) handBack(pending_.pop());
      resetRequested_ = false;
      settled_.notifyAll();
      return !closing_;
    }
    writePending();
    handBackPlayed();
    releaseRetired();
    if (abandoned_ || resetRequested_ || closing_ || !pending_.empty()) {
      return true;
    }
    const HANDLE signals[2] = {wake_, doneSignal_};
    // A driver may mark a buffer done after its WOM_DONE: look again now
    // and then while the system holds buffers.
    const DWORD timeout = playing_.empty() ? INFINITE : kDonePollMs;
    mutex_.unlock();
    ::WaitForMultipleObjects(2, signals, FALSE, timeout);
    mutex_.lock();
    return true;
  }

  // Gives the system the pending entries, in order. An entry it refuses is
  // handed back unplayed.
  void writePending() REQUIRES(mutex_) {
    while (!abandoned_ && !resetRequested_ && !closing_ && !pending_.empty()) {
      Entry* entry = pending_.head;
      const bool prepared = entry->systemPrepared;
      mutex_.unlock();
      MMRESULT result = MMSYSERR_NOERROR;
      if (!prepared) {
        entry->header = WAVEHDR{};
        entry->header.lpData = entry->block.get();
        entry->header.dwBufferLength = entry->length;
        result = ::waveOutPrepareHeader(device_, &entry->header,
                                        sizeof entry->header);
      }
      if (result == MMSYSERR_NOERROR) {
        result = ::waveOutWrite(device_, &entry->header, sizeof entry->header);
      }
      mutex_.lock();
      if (!prepared && headerFlag(entry, WHDR_PREPARED)) {
        entry->systemPrepared = true;
      }
      if (abandoned_) return;  // the caller has handed it back
      pending_.pop();
      if (result == MMSYSERR_NOERROR) {
        playing_.push(entry);
      } else {
        handBack(entry);
      }
    }
  }

  // Hands back, in order, the entries the system has finished.
  void handBackPlayed() REQUIRES(mutex_) {
    while (!abandoned_ && !playing_.empty() &&
           headerFlag(playing_.head, WHDR_DONE)) {
      handBack(playing_.pop());
    }
  }

  // Unprepares and frees the entries the caller has unprepared.
  void releaseRetired() REQUIRES(mutex_) {
    if (retired_.empty() || abandoned_) return;
    std::vector<std::unique_ptr<Entry>> retired;
    retired.swap(retired_);
    mutex_.unlock();
    for (const std::unique_ptr<Entry>& entry : retired) {
      ::waveOutUnprepareHeader(device_, &entry->header, sizeof entry->header);
    }
    retired.clear();
    mutex_.lock();
  }

  // Stops the device, unprepares every header and closes it. Nothing of the
  // caller's is touched: when the thread was abandoned, the caller has
  // everything back already.
  void shutDown() REQUIRES(mutex_) {
    std::vector<std::unique_ptr<Entry>> retired;
    retired.swap(retired_);
    std::vector<Entry*> live;
    try {
      live.reserve(entries_.size());
      for (const auto& item : entries_) live.push_back(item.second.get());
    } catch (const std::bad_alloc&) {
      live.clear();  // their headers stay prepared; the close still runs
    }
    mutex_.unlock();
    ::waveOutReset(device_);
    for (const std::unique_ptr<Entry>& entry : retired) {
      if (headerFlag(entry.get(), WHDR_PREPARED)) {
        ::waveOutUnprepareHeader(device_, &entry->header, sizeof entry->header);
      }
    }
    for (Entry* entry : live) {
      if (headerFlag(entry, WHDR_PREPARED)) {
        ::waveOutUnprepareHeader(device_, &entry->header, sizeof entry->header);
      }
    }
    ::waveOutClose(device_);
    retired.clear();
    mutex_.lock();
    for (Entry* entry : live) entry->systemPrepared = false;
  }

  // Marks the entry's buffer as the caller's again and notifies the caller,
  // without holding the lock during the callback.
  void handBack(Entry* entry) REQUIRES(mutex_) {
    WaveOutBuffer* buffer = entry->buffer;
    buffer->queued = false;
    inCallback_ = true;
    mutex_.unlock();
    done_(context_, buffer);
    mutex_.lock();
    inCallback_ = false;
    settled_.notifyAll();
  }

  const HANDLE doneSignal_;  // released by the system's callback
  const HANDLE wake_;        // auto-reset: the caller has a request
  const WAVEFORMATEX format_;
  const WaveOutDoneCallback done_;
  void* const context_;
  HWAVEOUT device_ = nullptr;  // the thread's, once opened

  Mutex mutex_;
  CondVar settled_;  // the caller: the thread answered
  std::unordered_map<WaveOutBuffer*, std::unique_ptr<Entry>> entries_
      GUARDED_BY(mutex_);
  // Unprepared by the caller, still prepared for the system.
  std::vector<std::unique_ptr<Entry>> retired_ GUARDED_BY(mutex_);
  // Queued, not yet given to the system, in order.
  EntryFifo pending_ GUARDED_BY(mutex_);
  // Given to the system, not yet handed back, in order.
  EntryFifo playing_ GUARDED_BY(mutex_);
  bool openAnswered_ GUARDED_BY(mutex_) = false;
  UINT deviceCount_ GUARDED_BY(mutex_) = 0;
  MMRESULT openResult_ GUARDED_BY(mutex_) = MMSYSERR_NOERROR;
  bool resetRequested_ GUARDED_BY(mutex_) = false;
  bool closing_ GUARDED_BY(mutex_) = false;
  // The caller gave up on the thread.
  bool abandoned_ GUARDED_BY(mutex_) = false;
  // The thread is in the done callback.
  bool inCallback_ GUARDED_BY(mutex_) = false;
  // The thread has closed the device and ends.
  bool finished_ GUARDED_BY(mutex_) = false;
};

void runPlayback(std::shared_ptr<Playback> playback) {
  const CrashThreadStack crashStack = crashHandlerThreadAttach();
  playback->run();
}

class Win32WaveOut final : public WaveOutDevice {
 public:
  explicit Win32WaveOut(std::shared_ptr<Playback> playback)
      : playback_(std::move(playback)) {}
  ~Win32WaveOut() override { close(); }

  // Starts the device thread, which opens the device. False when no thread
  // could be had.
  bool start() {
    try {
      thread_ = std::thread(runPlayback, playback_);
    } catch (const std::system_error&) {
      return false;
    }
    return true;
  }

  // Lets go of a thread whose open was given up on; it closes what it
  // opened by itself.
  void detach() { thread_.detach(); }

  int32_t prepare(WaveOutBuffer* buffer) override {
    return playback_->prepare(buffer);
  }
  int32_t queue(WaveOutBuffer* buffer) override {
    return playback_->queue(buffer);
  }
  int32_t reset() override { return playback_->reset(); }
  int32_t unprepare(WaveOutBuffer* buffer) override {
    return playback_->unprepare(buffer);
  }

  void close() override {
    if (!thread_.joinable()) return;  // closed, or never started
    if (playback_->close()) {
      thread_.join();
    } else {
      thread_.detach();
    }
  }

 private:
  std::shared_ptr<Playback> playback_;
  std::thread thread_;
};

}  // namespace

int32_t waveOutOpenUntilStop(const WaveOutFormat& format,
                             WaveOutDoneCallback done, void* context,
                             std::unique_ptr<WaveOutDevice>* device,
                             const std::atomic<int32_t>* stopFlag) {
  device->reset();
  openFailureDetail[0] = '\0';
  if (format.bitsPerSample != 16 || format.channels < 1 ||
      format.channels > 8 || format.samplesPerSecond < 1) {
    return kWaveOutBadFormat;
  }
  WAVEFORMATEX wave{};
  wave.wFormatTag = WAVE_FORMAT_PCM;
  wave.nChannels = static_cast<WORD>(format.channels);
  wave.nSamplesPerSec = static_cast<DWORD>(format.samplesPerSecond);
  wave.nBlockAlign = static_cast<WORD>(format.channels * 2);
  wave.nAvgBytesPerSec = wave.nSamplesPerSec * wave.nBlockAlign;
  wave.wBitsPerSample = 16;

  const HANDLE doneSignal = createDoneSignal();
  const HANDLE wake = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::shared_ptr<Playback> playback;
  if (doneSignal != nullptr && wake != nullptr) {
    try {
      playback = std::make_shared<Playback>(doneSignal, wake, wave, done,
                                            context);
    } catch (const std::bad_alloc&) {
    }
  }
  if (playback == nullptr) {
    if (doneSignal != nullptr) ::CloseHandle(doneSignal);
    if (wake != nullptr) ::CloseHandle(wake);
    return kWaveOutNoMemory;
  }
  std::unique_ptr<Win32WaveOut> out(new (std::nothrow) Win32WaveOut(playback));
  if (out == nullptr) return kWaveOutNoMemory;
  if (!out->start()) return kWaveOutNoMemory;
  UINT devices = 0;
  MMRESULT result = MMSYSERR_NOERROR;
  if (!playback->awaitOpen(stopFlag, &devices, &result)) {
    out->detach();
    return kWaveOutTimedOut;
  }
  if (devices == 0) return kWaveOutNoDevice;  // out joins the ended thread
  if (result != MMSYSERR_NOERROR) {
    if (::waveOutGetErrorTextA(result, openFailureDetail,
                               sizeof openFailureDetail) != MMSYSERR_NOERROR) {
      openFailureDetail[0] = '\0';
    }
    return resultOfOpen(result);
  }
  *device = std::move(out);
  return kWaveOutOk;
}

int32_t waveOutOpen(const WaveOutFormat& format, WaveOutDoneCallback done,
                    void* context, std::unique_ptr<WaveOutDevice>* device) {
  return waveOutOpenUntilStop(format, done, context, device, nullptr);
}

const char* waveOutOpenFailureDetail() { return openFailureDetail; }
