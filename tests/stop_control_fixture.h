// The stop-control tests' fixture and a heap source that counts its closes,
// shared by the portable tests and the POSIX signal test.
//
// Thread-safety: a source's close may run on any thread; the counter is
// atomic.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

#include "app/stop_control.h"

namespace stop_test {

// A heap source that counts the calls of its close, so that a close reaching
// a destroyed source is a use after free that ASan reports.
class CountingSource final : public AudioSource {
 public:
  CountingSource() { markOpen(); }
  Result close() override {
    closes_++;
    markClosed();
    return 0;
  }
  Result wait(int32_t) override { return 0; }
  Result read(uint8_t*, int32_t, int32_t* count) override {
    *count = 0;
    return 0;
  }
  int closes() const { return closes_.load(); }

 private:
  std::atomic<int> closes_{0};
};

inline std::unique_ptr<CountingSource> newCountingSource() {
  return std::make_unique<CountingSource>();
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
