// CountingSemaphore: a process-local counting semaphore with an upper bound,
// used to count the playback buffers that the device has handed back.
//
// Thread-safety: every member may be called from any thread at any time.
#pragma once

#include <cstdint>

#include "support/mutex.h"

class CountingSemaphore {
 public:
  // REQUIRES: 0 <= initial <= maximum.
  CountingSemaphore(int32_t initial, int32_t maximum);
  CountingSemaphore(const CountingSemaphore&) = delete;
  CountingSemaphore& operator=(const CountingSemaphore&) = delete;

  // Adds one unit and wakes one waiter. Returns false, changing nothing,
  // when the count is already at its maximum.
  bool release();

  // Takes one unit, waiting at most `timeoutMs` milliseconds for one to
  // appear (0 or less: do not wait). Returns true when a unit was taken.
  bool acquireFor(int32_t timeoutMs);

 private:
  Mutex mutex_;
  CondVar available_;
  int32_t count_ GUARDED_BY(mutex_);
  const int32_t maximum_;
};
