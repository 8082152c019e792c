#include "app/stop_control.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

// A heap source whose close counts its calls in its private state, so that a
// close reaching a destroyed source is a use after free that ASan reports.
struct CountingState {
  std::atomic<int> closes{0};
};

Result countingClose(AudioEndpoint* source) {
  static_cast<CountingState*>(source->state)->closes++;
  source->isOpen = 0;
  return 0;
}

AudioSource* newCountingSource() {
  auto* source = new AudioSource;
  source->close = countingClose;
  source->state = new CountingState;
  source->isOpen = 1;
  return source;
}

void deleteCountingSource(AudioSource* source) {
  delete static_cast<CountingState*>(source->state);
  delete source;
}

int closesOf(AudioSource* source) {
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

TEST_F(StopControlTest, StopSetsTheFlagAndClosesTheCurrentSource) {
  AudioSource* source = newCountingSource();
  stopSetSource(source);
  stopRequest(SIGINT);
  EXPECT_EQ(stopRequested.load(), 1);
  EXPECT_EQ(closesOf(source), 1);
  EXPECT_EQ(source->isOpen.load(), 0);
  stopRequest(SIGTERM);  // a second stop closes again; close is idempotent
  EXPECT_EQ(stopRequested.load(), 1);
  stopWithdrawSource();
  deleteCountingSource(source);
}

TEST_F(StopControlTest, AWithdrawnSourceIsNeverClosedAgain) {
  AudioSource* source = newCountingSource();
  stopSetSource(source);
  stopWithdrawSource();
  deleteCountingSource(source);
  stopRequest(SIGINT);  // must not reach the freed source
  EXPECT_EQ(stopRequested.load(), 1);
}

// Stops keep arriving while the main thread sets, withdraws and destroys
// source after source; no close may reach a destroyed source.
TEST_F(StopControlTest, StopsRacingWithWithdrawAndDestroyAreSafe) {
  std::atomic<bool> done{false};
  std::thread stopper([&] {
    while (!done.load()) stopRequest(SIGINT);
  });
  // Enough rounds that some stops land while a source is set.
  int closed = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (int round = 0;
       round < 2000 || (closed < 10 && std::chrono::steady_clock::now() < deadline);
       ++round) {
    AudioSource* source = newCountingSource();
    stopSetSource(source);
    if (round % 2 == 0) std::this_thread::yield();
    stopWithdrawSource();
    closed += closesOf(source) > 0 ? 1 : 0;
    deleteCountingSource(source);
  }
  done = true;
  stopper.join();
}

// The listener turns a termination signal into a stop.
TEST_F(StopControlTest, ASignalBecomesAStop) {
  ASSERT_TRUE(stopHandlersInstall());
  AudioSource* source = newCountingSource();
  stopSetSource(source);
  ASSERT_EQ(kill(getpid(), SIGTERM), 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (closesOf(source) == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(stopRequested.load(), 1);
  EXPECT_EQ(closesOf(source), 1);
  stopWithdrawSource();
  stopHandlersRemove();
  deleteCountingSource(source);
  // Give the test process its signals back.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGUSR1);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

}  // namespace
