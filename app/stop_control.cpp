#include "app/stop_control.h"

#include "support/debug_trace.h"
#include "support/mutex.h"

std::atomic<int32_t> stopRequested{0};

namespace {

Mutex& sourceGuard() {
  static Mutex guard;
  return guard;
}

AudioSource* currentSource GUARDED_BY(sourceGuard()) = nullptr;

}  // namespace

void stopSetSource(AudioSource* source) {
  MutexLock lock(&sourceGuard());
  currentSource = source;
}

void stopWithdrawSource() { stopSetSource(nullptr); }

void stopRequest(int32_t event) {
  debugTrace("got event %08lx\n", static_cast<unsigned long>(event));
  stopRequested.store(1);
  debugTrace("stop reqested: %d\n", stopRequested.load());
  MutexLock lock(&sourceGuard());
  if (currentSource != nullptr) currentSource->close();
}
