// The wave-out device protocol over a scripted backend: play order, refused
// buffers, a reset the device never answers (abandon) and opens that fail
// or are given up on. Every step waits on what the backend or the done
// callback observes, never on a sleep.
#include "sound/wave_out_playback.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint8_t kRefusedByte = 0xFF;  // a buffer starting so is refused

// What the backend does and has seen; shared with the test, as a backend
// given up on may outlive it.
struct Script {
  std::mutex mutex;
  std::condition_variable changed;
  bool openHeld = false;  // open waits until cleared
  int32_t openResult = kWaveOutOk;
  std::string openDetail;
  bool dropHeld = false;     // dropAll waits until cleared
  int32_t playable = 0;      // taken buffers to count played
  std::vector<uint8_t> taken;  // first byte of each buffer taken
  bool woken = false;
  bool closed = false;

  template <typename Change>
  void set(Change change) {
    std::lock_guard<std::mutex> lock(mutex);
    change();
    changed.notify_all();
  }
  template <typename Ready>
  bool await(Ready ready, int32_t ms = 5000) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(ms), ready);
  }
};

class ScriptedBackend final : public WaveOutBackend {
 public:
  explicit ScriptedBackend(std::shared_ptr<Script> script)
      : s_(std::move(script)) {}

  int32_t open(char* detail, size_t size) override {
    std::unique_lock<std::mutex> lock(s_->mutex);
    s_->changed.wait(lock, [&] { return !s_->openHeld; });
    std::snprintf(detail, size, "%s", s_->openDetail.c_str());
    return s_->openResult;
  }
  Submitted submit(const uint8_t* data, int32_t) override {
    if (data[0] == kRefusedByte) return Submitted::kRefused;
    s_->set([&] { s_->taken.push_back(data[0]); });
    return Submitted::kTaken;
  }
  int32_t collectPlayed() override {
    std::lock_guard<std::mutex> lock(s_->mutex);
    const int32_t played = s_->playable;
    s_->playable = 0;
    return played;
  }
  void dropAll() override {
    std::unique_lock<std::mutex> lock(s_->mutex);
    s_->changed.wait(lock, [&] { return !s_->dropHeld; });
  }
  void wait() override {
    std::unique_lock<std::mutex> lock(s_->mutex);
    s_->changed.wait(lock, [&] { return s_->woken || s_->playable > 0; });
    s_->woken = false;
  }
  void wake() override {
    s_->set([&] { s_->woken = true; });
  }
  void close() override {
    s_->set([&] { s_->closed = true; });
  }

 private:
  std::shared_ptr<Script> s_;
};

// What the done callback saw.
struct Returns {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<uint8_t> order;  // first byte of each buffer handed back
  std::vector<std::thread::id> threads;

  bool awaitCount(size_t count) {
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(5),
                            [&] { return order.size() >= count; });
  }
};

void recordDone(void* context, WaveOutBuffer* buffer) {
  auto* returns = static_cast<Returns*>(context);
  std::lock_guard<std::mutex> lock(returns->mutex);
  returns->order.push_back(buffer->data[0]);
  returns->threads.push_back(std::this_thread::get_id());
  returns->changed.notify_all();
}

class WaveOutPlayback : public ::testing::Test {
 protected:
  int32_t open(const std::atomic<int32_t>* stop = nullptr) {
    return waveOutOpenOn(std::make_unique<ScriptedBackend>(script_),
                         WaveOutFormat(), recordDone, &returns_, &device_,
                         stop);
  }
  // Prepares and queues one buffer per first byte.
  void queue(const std::vector<uint8_t>& firsts) {
    for (uint8_t first : firsts) {
      blocks_.emplace_back(8, first);
      buffers_.emplace_back();
    }
    for (size_t i = buffers_.size() - firsts.size(); i < buffers_.size(); ++i) {
      buffers_[i].data = blocks_[i].data();
      buffers_[i].length = 8;
      ASSERT_EQ(device_->prepare(&buffers_[i]), kWaveOutOk);
      ASSERT_EQ(device_->queue(&buffers_[i]), kWaveOutOk);
    }
  }

  std::shared_ptr<Script> script_ = std::make_shared<Script>();
  Returns returns_;
  std::unique_ptr<WaveOutDevice> device_;
  std::deque<std::vector<uint8_t>> blocks_;
  std::deque<WaveOutBuffer> buffers_;
};

TEST_F(WaveOutPlayback, HandsBackRefusedAtOnceAndPlayedInOrderOnItsThread) {
  ASSERT_EQ(open(), kWaveOutOk);
  queue({1, 2, kRefusedByte, 4});
  ASSERT_TRUE(script_->await([&] { return script_->taken.size() == 3; }));
  ASSERT_TRUE(returns_.awaitCount(1));
  script_->set([&] { script_->playable = 2; });
  ASSERT_TRUE(returns_.awaitCount(3));
  script_->set([&] { script_->playable = 1; });
  ASSERT_TRUE(returns_.awaitCount(4));
  EXPECT_EQ(script_->taken, (std::vector<uint8_t>{1, 2, 4}));
  EXPECT_EQ(returns_.order, (std::vector<uint8_t>{kRefusedByte, 1, 2, 4}));
  for (std::thread::id id : returns_.threads) {
    EXPECT_NE(id, std::this_thread::get_id());
  }
  device_->close();
  EXPECT_TRUE(script_->closed);
}

// A device stuck in its reset: the reset gives up after the answer limit,
// hands everything back on the caller's thread, and the device plays
// nothing more; the thread closes the device once the call returns.
TEST_F(WaveOutPlayback, ResetTheDeviceNeverAnswersAbandonsIt) {
  ASSERT_EQ(open(), kWaveOutOk);
  script_->set([&] { script_->dropHeld = true; });
  queue({1, 2, 3});
  ASSERT_TRUE(script_->await([&] { return script_->taken.size() == 3; }));
  queue({4});
  EXPECT_EQ(device_->reset(), kWaveOutTimedOut);
  EXPECT_EQ(returns_.order, (std::vector<uint8_t>{1, 2, 3, 4}));
  for (std::thread::id id : returns_.threads) {
    EXPECT_EQ(id, std::this_thread::get_id());
  }
  EXPECT_EQ(device_->queue(&buffers_[0]), kWaveOutInvalid);
  device_->close();  // returns without waiting for the stuck thread
  EXPECT_EQ(device_->unprepare(&buffers_[0]), kWaveOutOk);
  device_.reset();
  EXPECT_FALSE(script_->await([&] { return script_->closed; }, 0));
  script_->set([&] { script_->dropHeld = false; });
  EXPECT_TRUE(script_->await([&] { return script_->closed; }));
  EXPECT_EQ(returns_.order.size(), 4u);  // nothing handed back twice
}

TEST_F(WaveOutPlayback, OpenFailsWithTheBackendsReasonOrGivesUpOnAStop) {
  struct Case {
    const char* name;
    bool held;
    int32_t backendResult;
    int32_t result;
    const char* detail;
  };
  for (const Case& c :
       {Case{"busy", false, kWaveOutBusy, kWaveOutBusy, "in use"},
        Case{"held, then stopped", true, kWaveOutOk, kWaveOutTimedOut, ""}}) {
    SCOPED_TRACE(c.name);
    script_ = std::make_shared<Script>();
    script_->openHeld = c.held;
    script_->openResult = c.backendResult;
    script_->openDetail = c.detail;
    const std::atomic<int32_t> stop{c.held ? 1 : 0};
    EXPECT_EQ(open(&stop), c.result);
    EXPECT_EQ(device_, nullptr);
    EXPECT_STREQ(waveOutOpenFailureDetail(), c.detail);
    // An open the device finishes later is closed again unseen.
    script_->set([&] { script_->openHeld = false; });
    if (c.backendResult == kWaveOutOk) {
      EXPECT_TRUE(script_->await([&] { return script_->closed; }));
    }
  }
}

}  // namespace
