#include "support/mutex.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

struct Shared {
  Mutex mutex;
  CondVar changed;
  int value GUARDED_BY(mutex) = 0;
};

TEST(Mutex, AWaiterWakesWithWhatTheNotifierWrote) {
  Shared shared;
  std::thread writer([&shared] {
    MutexLock lock(&shared.mutex);
    shared.value = 42;
    shared.changed.notifyAll();
  });
  {
    MutexLock lock(&shared.mutex);
    shared.changed.wait(&shared.mutex, [&shared]() REQUIRES(shared.mutex) {
      return shared.value != 0;
    });
    EXPECT_EQ(shared.value, 42);
  }
  writer.join();
}

// A wait hands the mutex back to its caller: a thread that wants it gets in
// only once the caller's lock ends, not when the wait returns.
TEST(Mutex, ATimedOutWaitReturnsHoldingTheMutex) {
  Shared shared;
  std::atomic<bool> entered{false};
  std::thread other;
  {
    MutexLock lock(&shared.mutex);
    EXPECT_FALSE(shared.changed.waitFor(
        &shared.mutex, std::chrono::milliseconds(20),
        [&shared]() REQUIRES(shared.mutex) { return shared.value != 0; }));
    shared.changed.waitUntil(&shared.mutex, std::chrono::steady_clock::now() +
                                                std::chrono::milliseconds(5));
    other = std::thread([&] {
      MutexLock otherLock(&shared.mutex);
      entered.store(true);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_FALSE(entered.load());
  }
  other.join();
  EXPECT_TRUE(entered.load());
}

}  // namespace
