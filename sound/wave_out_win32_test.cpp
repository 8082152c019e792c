// Needs a playback device: under Wine, $HOME/.asoundrc with
// pcm.!default { type null } gives one (buffers come back about 4x faster
// than real time).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "sound/wave_out.h"

namespace {

using Clock = std::chrono::steady_clock;

// What the done callback saw.
struct Returns {
  std::vector<WaveOutBuffer*> order;  // written by the callback only
  std::atomic<int32_t> count{0};
  std::atomic<bool> onCallerThread{false};
  DWORD callerThread = ::GetCurrentThreadId();
};

void recordDone(void* context, WaveOutBuffer* buffer) {
  auto* returns = static_cast<Returns*>(context);
  returns->order.push_back(buffer);
  if (::GetCurrentThreadId() == returns->callerThread) {
    returns->onCallerThread = true;
  }
  returns->count.fetch_add(1);
}

class Win32WaveOut : public ::testing::Test {
 protected:
  void SetUp() override {
    const int32_t opened =
        waveOutOpen(WaveOutFormat(), recordDone, &returns_, &device_);
    if (opened == kWaveOutNoDevice) GTEST_SKIP() << "no playback device";
    ASSERT_EQ(opened, kWaveOutOk) << waveOutOpenFailureDetail();
    for (size_t i = 0; i < buffers_.size(); ++i) {
      blocks_[i].assign(1024, static_cast<uint8_t>(i));
      buffers_[i].data = blocks_[i].data();
      buffers_[i].length = 1024;
      ASSERT_EQ(device_->prepare(&buffers_[i]), kWaveOutOk);
    }
  }

  void queueAll() {
    for (WaveOutBuffer& buffer : buffers_) {
      ASSERT_EQ(device_->queue(&buffer), kWaveOutOk);
    }
  }

  void expectReturnedInOrder() {
    ASSERT_EQ(returns_.order.size(), buffers_.size());
    for (size_t i = 0; i < buffers_.size(); ++i) {
      EXPECT_EQ(returns_.order[i], &buffers_[i]) << i;
    }
  }

  Returns returns_;
  std::unique_ptr<WaveOutDevice> device_;
  std::vector<std::vector<uint8_t>> blocks_{16};
  std::vector<WaveOutBuffer> buffers_{16};
};

TEST_F(Win32WaveOut, PlaysBuffersAndHandsThemBackInOrderOnItsOwnThread) {
  queueAll();
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
  while (returns_.count.load() < 16 && Clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  expectReturnedInOrder();
  EXPECT_FALSE(returns_.onCallerThread.load());
}

TEST_F(Win32WaveOut, ResetAndCloseHandEveryQueuedBufferBackBeforeReturning) {
  queueAll();
  // On a loaded machine Wine's reset may outlast kWaveOutAnswerLimitMs: the
  // device is then given up, and the buffers must be back all the same.
  const int32_t reset = device_->reset();
  ASSERT_TRUE(reset == kWaveOutOk || reset == kWaveOutTimedOut) << reset;
  expectReturnedInOrder();
  if (reset == kWaveOutTimedOut) return;
  returns_.order.clear();
  queueAll();  // still usable after a reset
  device_->close();
  expectReturnedInOrder();
}

TEST_F(Win32WaveOut, RefusesMisuse) {
  WaveOutBuffer odd;
  odd.data = blocks_[0].data();
  odd.length = 1022;  // not whole frames
  WaveOutBuffer* first = &buffers_[0];
  ASSERT_EQ(device_->queue(first), kWaveOutOk);
  struct Case {
    const char* what;
    int32_t got;
    int32_t expected;
  };
  const Case cases[] = {
      {"prepare twice", device_->prepare(&buffers_[1]), kWaveOutInvalid},
      {"prepare partial frame", device_->prepare(&odd), kWaveOutInvalid},
      {"queue unprepared", device_->queue(&odd), kWaveOutInvalid},
      {"queue twice", device_->queue(first), kWaveOutInvalid},
      {"unprepare queued", device_->unprepare(first), kWaveOutStillQueued},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;
  device_->close();
  EXPECT_EQ(device_->queue(&buffers_[1]), kWaveOutInvalid);
  EXPECT_EQ(device_->reset(), kWaveOutInvalid);
  EXPECT_EQ(device_->unprepare(first), kWaveOutOk);
  EXPECT_EQ(device_->unprepare(first), kWaveOutInvalid);
}

TEST(Win32WaveOutOpen, AStopEndsTheOpenWithinItsCheckInterval) {
  const std::atomic<int32_t> stop{1};
  Returns returns;
  std::unique_ptr<WaveOutDevice> device;
  const Clock::time_point start = Clock::now();
  const int32_t opened = waveOutOpenUntilStop(WaveOutFormat(), recordDone,
                                              &returns, &device, &stop);
  // Well below the open's own limit of kWaveOutOpenLimitMs, with room for
  // Wine's thread start on a loaded machine.
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1000));
  // An open the system answers at once may still succeed.
  EXPECT_TRUE(opened == kWaveOutOk || opened == kWaveOutTimedOut ||
              opened == kWaveOutNoDevice)
      << opened;
  EXPECT_EQ(device != nullptr, opened == kWaveOutOk);
}

}  // namespace
