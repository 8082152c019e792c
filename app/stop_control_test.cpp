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
// source after source. Every stop returns; a stop closes only the source
// that is set, and none reaches a source once it is withdrawn: each source
// stays alive for one more round after its withdrawal, and its count of
// closes must not change in that round.
TEST_F(StopControlTest, StopsRacingWithWithdrawAndDestroyAreSafe) {
  std::atomic<bool> done{false};
  std::atomic<long> stops{0};
  std::thread stopper([&] {
    while (!done.load()) {
      stopRequest(SIGINT);
      ++stops;
    }
  });
  // Enough rounds that some stops land while a source is set.
  int closed = 0;
  int lateCloses = 0;
  int wrongState = 0;
  std::unique_ptr<stop_test::CountingSource> withdrawn;
  int closesAtWithdrawal = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  for (int round = 0;
       round < 2000 || (closed < 10 && std::chrono::steady_clock::now() < deadline);
       ++round) {
    auto source = newCountingSource();
    stopSetSource(source.get());
    if (round % 2 == 0) std::this_thread::yield();
    stopWithdrawSource();
    const int closes = source->closes();
    closed += closes > 0 ? 1 : 0;
    // Closed means no longer open, and untouched means still open.
    wrongState += source->isOpen() == (closes == 0) ? 0 : 1;
    if (withdrawn != nullptr) {
      lateCloses += withdrawn->closes() - closesAtWithdrawal;
    }
    withdrawn = std::move(source);
    closesAtWithdrawal = closes;
  }
  done = true;
  stopper.join();
  lateCloses += withdrawn->closes() - closesAtWithdrawal;
  EXPECT_GT(stops.load(), 0);
  EXPECT_EQ(stopRequested.load(), 1);
  EXPECT_EQ(lateCloses, 0) << "a stop closed a withdrawn source";
  EXPECT_EQ(wrongState, 0);
  EXPECT_GT(closed, 0) << "no stop landed while a source was set";
}

}  // namespace
