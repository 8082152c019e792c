// The POSIX signal listener of the stop control: a termination signal sent
// to the process becomes a stop.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "app/stop_control.h"
#include "tests/stop_control_fixture.h"

namespace {

using stop_test::newCountingSource;
using stop_test::StopControlTest;

// The listener turns a termination signal into a stop.
TEST_F(StopControlTest, ASignalBecomesAStop) {
  ASSERT_TRUE(stopHandlersInstall());
  auto source = newCountingSource();
  stopSetSource(source.get());
  ASSERT_EQ(kill(getpid(), SIGTERM), 0);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (source->closes() == 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(stopRequested.load(), 1);
  EXPECT_EQ(source->closes(), 1);
  stopWithdrawSource();
  stopHandlersRemove();
  source.reset();
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
