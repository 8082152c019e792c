#include "app/stop_control.h"

#include <chrono>

#include "support/debug_trace.h"
#include "support/mutex.h"

std::atomic<int32_t> stopRequested{0};

namespace {

Mutex& sourceGuard() {
  static Mutex guard;
  return guard;
}

AudioSource* currentSource GUARDED_BY(sourceGuard()) = nullptr;

// Wakes stopWaitFor; stopRequested changes under it.
Mutex& waitGuard() {
  static Mutex guard;
  return guard;
}

CondVar& stopSignalled() {
  static CondVar signalled;
  return signalled;
}

}  // namespace

void stopSetSource(AudioSource* source) {
  MutexLock lock(&sourceGuard());
  currentSource = source;
}

void stopWithdrawSource() { stopSetSource(nullptr); }

void stopRequest(int32_t event) {
  debugTrace("got event %08lx\n", static_cast<unsigned long>(event));
  {
    MutexLock lock(&waitGuard());
    stopRequested.store(1);
  }
  stopSignalled().notifyAll();
  debugTrace("stop reqested: %d\n", stopRequested.load());
  MutexLock lock(&sourceGuard());
  if (currentSource != nullptr) currentSource->close();
}

bool stopWaitFor(int32_t milliseconds) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  MutexLock lock(&waitGuard());
  stopSignalled().waitUntil(&waitGuard(), deadline,
                            [] { return stopRequested.load() != 0; });
  return stopRequested.load() != 0;
}
