#include "app/stop_control.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/stop_control_fixture.h"

namespace {

using stop_test::newCountingSource;
using stop_test::StopControlTest;

TEST_F(StopControlTest, StopSetsTheFlagAndClosesTheCurrentSource) {
  auto source = newCountingSource();
  stopSetSource(source.get());
  stopRequest(SIGINT);
  EXPECT_EQ(stopRequested.load(), 1);
  EXPECT_EQ(source->closes(), 1);
  EXPECT_FALSE(source->isOpen());
  stopRequest(SIGTERM);  // a second stop closes again; close is idempotent
  EXPECT_EQ(stopRequested.load(), 1);
  stopWithdrawSource();
  source.reset();
}

TEST_F(StopControlTest, AWithdrawnSourceIsNeverClosedAgain) {
  auto source = newCountingSource();
  stopSetSource(source.get());
  stopWithdrawSource();
  source.reset();
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
    auto source = newCountingSource();
    stopSetSource(source.get());
    if (round % 2 == 0) std::this_thread::yield();
    stopWithdrawSource();
    closed += source->closes() > 0 ? 1 : 0;
    source.reset();
  }
  done = true;
  stopper.join();
}

}  // namespace
