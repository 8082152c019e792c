#include "sound/counting_semaphore.h"

#include <chrono>

CountingSemaphore::CountingSemaphore(int32_t initial, int32_t maximum)
    : count_(initial), maximum_(maximum) {}

bool CountingSemaphore::release() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (count_ >= maximum_) return false;
    ++count_;
  }
  available_.notify_one();
  return true;
}

bool CountingSemaphore::acquireFor(int32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (count_ == 0 && timeoutMs > 0) {
    available_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [this] { return count_ > 0; });
  }
  if (count_ == 0) return false;
  --count_;
  return true;
}
