// The stop-control tests' fixture and a heap source that counts its closes,
// shared by the portable tests and the POSIX signal test.
//
// Thread-safety: a source's close may run on any thread; the counter is
// atomic.
#pragma once

#include <gtest/gtest.h>

#include <atomic>

#include "app/stop_control.h"

namespace stop_test {

// A heap source whose close counts its calls in its private state, so that a
// close reaching a destroyed source is a use after free that ASan reports.
struct CountingState {
  std::atomic<int> closes{0};
};

inline Result countingClose(AudioEndpoint* source) {
  static_cast<CountingState*>(source->state)->closes++;
  source->isOpen = 0;
  return 0;
}

inline AudioSource* newCountingSource() {
  auto* source = new AudioSource;
  source->close = countingClose;
  source->state = new CountingState;
  source->isOpen = 1;
  return source;
}

inline void deleteCountingSource(AudioSource* source) {
  delete static_cast<CountingState*>(source->state);
  delete source;
}

inline int closesOf(AudioSource* source) {
  return static_cast<CountingState*>(source->state)->closes.load();
}

// The stop flag is process-wide and never cleared by the program; each test
// starts from a clean state and leaves one behind.
class StopControlTest : public testing::Test {
 protected:
  void SetUp() override {
    stopWithdrawSource();
    stopRequested = 0;
  }
  void TearDown() override {
    stopWithdrawSource();
    stopRequested = 0;
  }
};

}  // namespace stop_test
