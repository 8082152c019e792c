#include "app/stop_control.h"

#include <mutex>

#include "support/debug_trace.h"

std::atomic<int32_t> stopRequested{0};

namespace {

std::mutex& sourceGuard() {
  static std::mutex guard;
  return guard;
}

AudioSource* currentSource = nullptr;  // guarded by sourceGuard()

}  // namespace

void stopSetSource(AudioSource* source) {
  std::lock_guard<std::mutex> lock(sourceGuard());
  currentSource = source;
}

void stopWithdrawSource() { stopSetSource(nullptr); }

void stopRequest(int32_t event) {
  debugTrace("got event %08lx\n", static_cast<unsigned long>(event));
  stopRequested.store(1);
  debugTrace("stop reqested: %d\n", stopRequested.load());
  std::lock_guard<std::mutex> lock(sourceGuard());
  if (currentSource != nullptr && currentSource->close != nullptr) {
    currentSource->close(currentSource);
  }
}
