#include "sound/counting_semaphore.h"

#include <chrono>

CountingSemaphore::CountingSemaphore(int32_t initial, int32_t maximum)
    : count_(initial), maximum_(maximum) {}

bool CountingSemaphore::release() {
  {
    MutexLock lock(&mutex_);
    if (count_ >= maximum_) return false;
    ++count_;
  }
  available_.notifyOne();
  return true;
}

bool CountingSemaphore::acquireFor(int32_t timeoutMs) {
  MutexLock lock(&mutex_);
  if (count_ == 0 && timeoutMs > 0) {
    available_.waitFor(&mutex_, std::chrono::milliseconds(timeoutMs),
                       [this]() REQUIRES(mutex_) { return count_ > 0; });
  }
  if (count_ == 0) return false;
  --count_;
  return true;
}
