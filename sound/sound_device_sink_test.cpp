// The sound device sink over a paced stand-in for the device: what is
// queued and played, real-time pacing of a fast source, late and reset
// notifications, stops, play-out at the end, and creation failures.
#include "sound/sound_device_sink.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "codecs/g711.h"
#include "tests/alaw_audio.h"
#include "tests/paced_wave_out.h"

namespace {

using paced_wave_out::Bytes;
using paced_wave_out::Options;
using paced_wave_out::PacedWaveOut;
using Clock = std::chrono::steady_clock;

constexpr int32_t kBytesPerBuffer = kSoundBufferBytes / 2;  // currency bytes
// What "promptly" allows: a few stop checks plus scheduling on a loaded
// machine (the Windows build runs these under Wine beside other builds),
// still well below the 2.5 s a queue may take to play out.
constexpr int64_t kPromptMs = 1000;

Bytes currency(size_t length, uint32_t seed = 7) {
  return alaw_audio::currency(length, seed);
}
using alaw_audio::expansion;

int64_t msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() -
                                                               start)
      .count();
}

// A sink over a fresh paced device, destroyed at the end of the test.
struct Fixture {
  explicit Fixture(Options options)
      : device(std::make_shared<PacedWaveOut>(options)),
        sink(openSoundDeviceSinkWith(device->opener(), &stop, &openResult)) {}
  ~Fixture() { sink.reset(); }
  // Waits (at most 5 s) until the device holds every buffer of the ring.
  bool deviceHoldsTheRing() const {
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(5);
    while (device->heldNow() < kSoundBufferCount) {
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }
  // Writes `bytes` in blocks of `block` (as the main loop does); returns
  // the total the sink accepted.
  int64_t writeAll(const Bytes& bytes, size_t block = 1024) {
    int64_t total = 0;
    for (size_t at = 0; at < bytes.size(); at += block) {
      const int32_t length =
          static_cast<int32_t>(std::min(block, bytes.size() - at));
      const Result written = sink->write(bytes.data() + at, length);
      if (written < 0) return written;
      total += written;
      if (written < length) break;
    }
    return total;
  }

  std::atomic<int32_t> stop{0};
  int32_t openResult = -100;
  std::shared_ptr<PacedWaveOut> device;
  std::unique_ptr<AudioSink> sink;
};

Options instant() {
  Options options;
  options.bufferMs = 0;
  return options;
}

TEST(SoundDeviceSink, OpensTheDeviceWithTheCurrencyFormat) {
  Fixture f(instant());
  ASSERT_NE(f.sink, nullptr);
  EXPECT_EQ(f.openResult, kWaveOutOk);
  EXPECT_TRUE(f.sink->isOpen());
  const WaveOutFormat format = f.device->format();
  EXPECT_EQ(format.channels, 2);
  EXPECT_EQ(format.samplesPerSecond, 8000);
  EXPECT_EQ(format.bitsPerSample, 16);
}

struct QueueCase {
  const char* name;
  std::vector<int32_t> writes;  // block lengths, in order
  int32_t queued;               // buffers queued after the writes
};

class SoundSinkQueueing : public ::testing::TestWithParam<QueueCase> {};

// Only full buffers are queued; a closing sink plays every full one in
// order and drops the partly filled last one.
TEST_P(SoundSinkQueueing, QueuesFullBuffersAndPlaysThemInOrder) {
  const QueueCase& c = GetParam();
  Fixture f(instant());
  ASSERT_NE(f.sink, nullptr);
  size_t total = 0;
  for (int32_t length : c.writes) total += static_cast<size_t>(length);
  const Bytes audio = currency(total);
  size_t at = 0;
  for (int32_t length : c.writes) {
    EXPECT_EQ(f.sink->write(audio.data() + at, length), length);
    at += static_cast<size_t>(length);
  }
  EXPECT_EQ(f.device->queuedCount(), c.queued);
  EXPECT_EQ(f.sink->close(), 0);
  EXPECT_EQ(f.device->played(),
            expansion(audio, static_cast<size_t>(c.queued) * kBytesPerBuffer));
  EXPECT_EQ(f.device->overwrites(), 0);
  EXPECT_EQ(f.device->invalidQueues(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Writes, SoundSinkQueueing,
    ::testing::Values(QueueCase{"OneBlockFillsTwoBuffers", {1024}, 2},
                      QueueCase{"OneByteQueuesNothing", {1}, 0},
                      QueueCase{"FiveHundredElevenMoreQueueOne", {1, 511}, 1},
                      QueueCase{"PartLastBufferUnplayed", {700, 700, 700}, 4},
                      QueueCase{"OddBlocksKeepTheOrder", {3, 1021, 5, 507}, 3},
                      QueueCase{
                          "ThreeLapsOfTheRing", {3 * 64 * 512 + 77}, 192}),
    [](const ::testing::TestParamInfo<QueueCase>& info) {
      return info.param.name;
    });

TEST(SoundDeviceSink, CloseIsIdempotentAndWriteAfterItIsNotOpen) {
  Fixture f(instant());
  ASSERT_NE(f.sink, nullptr);
  const Bytes audio = currency(600);
  ASSERT_EQ(f.sink->write(audio.data(), 600), 600);
  EXPECT_EQ(f.sink->close(), 0);
  EXPECT_FALSE(f.sink->isOpen());
  EXPECT_EQ(f.sink->close(), 0);
  EXPECT_EQ(f.sink->write(audio.data(), 600), kResultSoundNotOpen);
  EXPECT_EQ(f.device->resets(), 1);
  EXPECT_EQ(f.device->played().size(), static_cast<size_t>(kSoundBufferBytes));
}

TEST(SoundDeviceSink, DestroyClosesAnOpenSink) {
  Options options = instant();
  options.paused = true;
  auto device = std::make_shared<PacedWaveOut>(options);
  std::atomic<int32_t> stop{0};
  auto sink = openSoundDeviceSinkWith(device->opener(), &stop);
  ASSERT_NE(sink, nullptr);
  const Bytes audio = currency(3 * kBytesPerBuffer);
  ASSERT_EQ(sink->write(audio.data(), 3 * kBytesPerBuffer),
            3 * kBytesPerBuffer);
  stop.store(1);
  sink.reset();
  EXPECT_EQ(device->resets(), 1);
  EXPECT_EQ(device->heldNow(), 0);
  EXPECT_EQ(device->doneCount(), 3);
}

struct OpenFailureCase {
  const char* name;
  int32_t deviceResult;
  int32_t openResult;
  const char* report;  // soundReportOpenFailure's line, "\r" removed
};

class SoundSinkOpenFailure : public ::testing::TestWithParam<OpenFailureCase> {
};

TEST_P(SoundSinkOpenFailure, ReturnsNoSinkAndTheReason) {
  Options options = instant();
  options.openResult = GetParam().deviceResult;
  Fixture f(options);
  EXPECT_EQ(f.sink, nullptr);
  EXPECT_EQ(f.openResult, GetParam().openResult);
  ::testing::internal::CaptureStderr();
  soundReportOpenFailure(f.openResult);
  std::string line = ::testing::internal::GetCapturedStderr();
  line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
  EXPECT_EQ(line, GetParam().report);
}

INSTANTIATE_TEST_SUITE_P(
    Devices, SoundSinkOpenFailure,
    ::testing::Values(
        OpenFailureCase{"NoDevice", kWaveOutNoDevice, kWaveOutNoDevice,
                        "no audio device available\n"},
        OpenFailureCase{"BadFormat", kWaveOutBadFormat, kWaveOutBadFormat,
                        "audio device refuses the audio format\n"},
        OpenFailureCase{"Refused", kWaveOutDeviceRefused, kWaveOutDeviceRefused,
                        "audio device could not be opened\n"},
        OpenFailureCase{"NoMemory", kWaveOutNoMemory, kWaveOutNoMemory,
                        "not enough memory to open the audio device\n"},
        OpenFailureCase{"Busy", kWaveOutBusy, kWaveOutBusy,
                        "audio device is busy\n"},
        OpenFailureCase{"Denied", kWaveOutDenied, kWaveOutDenied,
                        "no permission to use the audio device\n"},
        OpenFailureCase{"TimedOut", kWaveOutTimedOut, kWaveOutTimedOut,
                        "audio device did not answer in time\n"},
        OpenFailureCase{"UnknownFailure", -77, kWaveOutDeviceRefused,
                        "audio device could not be opened\n"}),
    [](const ::testing::TestParamInfo<OpenFailureCase>& info) {
      return info.param.name;
    });

// A source faster than real time fills the ring, then waits in write for
// the device to hand a buffer back; no held buffer is ever rewritten.
TEST(SoundSinkPacing, FastSourceWaitsOnceTheRingIsQueued) {
  Options options;
  options.bufferMs = 4;
  options.paused = true;
  Fixture f(options);
  ASSERT_NE(f.sink, nullptr);
  const Bytes audio = currency(kSoundBufferCount * kBytesPerBuffer + 1);
  std::atomic<bool> returned{false};
  auto writer = std::async(std::launch::async, [&] {
    const Result written =
        f.sink->write(audio.data(), static_cast<int32_t>(audio.size()));
    returned.store(true);
    return written;
  });
  ASSERT_TRUE(f.deviceHoldsTheRing());
  EXPECT_FALSE(returned.load());
  f.device->resume();
  EXPECT_EQ(writer.get(), static_cast<Result>(audio.size()));
  EXPECT_EQ(f.device->maxHeld(), kSoundBufferCount);
  EXPECT_EQ(f.device->overwrites(), 0);
}

TEST(SoundSinkPacing, PlaysAtTheDeviceRateWithoutOverwriting) {
  Options options;
  options.bufferMs = 8;
  Fixture f(options);
  ASSERT_NE(f.sink, nullptr);
  constexpr int32_t kBeyondRing = 40;
  const Bytes audio =
      currency((kSoundBufferCount + kBeyondRing) * kBytesPerBuffer);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(f.writeAll(audio), static_cast<int64_t>(audio.size()));
  // The 40 buffers beyond the ring had to wait for 40 to be played.
  EXPECT_GE(msSince(start), kBeyondRing * options.bufferMs - 5);
  EXPECT_EQ(f.sink->close(), 0);
  EXPECT_EQ(f.device->played(), expansion(audio, audio.size()));
  EXPECT_EQ(f.device->maxHeld(), kSoundBufferCount);
  EXPECT_EQ(f.device->overwrites(), 0);
  EXPECT_EQ(f.device->invalidQueues(), 0);
}

// Buffers that have played but are handed back late stay the device's:
// the sink waits for the notification, not for the end of play.
TEST(SoundSinkPacing, LateDoneNotificationsAreWaitedFor) {
  Options options;
  options.bufferMs = 2;
  options.lateDoneMs = 60;
  Fixture f(options);
  ASSERT_NE(f.sink, nullptr);
  const Bytes audio = currency(3 * kSoundBufferCount * kBytesPerBuffer, 11);
  EXPECT_EQ(f.writeAll(audio, 1000), static_cast<int64_t>(audio.size()));
  EXPECT_EQ(f.sink->close(), 0);
  EXPECT_EQ(f.device->played(), expansion(audio, audio.size()));
  EXPECT_EQ(f.device->overwrites(), 0);
  EXPECT_LE(f.device->maxHeld(), kSoundBufferCount);
}

TEST(SoundSinkStop, StopEndsAWaitingWritePromptly) {
  Options options;
  options.paused = true;
  Fixture f(options);
  ASSERT_NE(f.sink, nullptr);
  const Bytes audio = currency((kSoundBufferCount + 6) * kBytesPerBuffer);
  auto writer = std::async(std::launch::async, [&] {
    return f.sink->write(audio.data(), static_cast<int32_t>(audio.size()));
  });
  ASSERT_TRUE(f.deviceHoldsTheRing());
  const Clock::time_point stopped = Clock::now();
  f.stop.store(1);
  // The writer sees the stop by itself; nothing else wakes it.
  ASSERT_EQ(writer.wait_for(std::chrono::milliseconds(2 * kPromptMs)),
            std::future_status::ready);
  EXPECT_LE(msSince(stopped), kPromptMs);
  EXPECT_EQ(writer.get(), kSoundBufferCount * kBytesPerBuffer);
  const Clock::time_point closing = Clock::now();
  EXPECT_EQ(f.sink->close(), 0);
  EXPECT_LE(msSince(closing), kPromptMs);
  EXPECT_TRUE(f.device->played().empty());
  EXPECT_EQ(f.device->overwrites(), 0);
}

// After a stop, close resets at once: queued audio is discarded, every
// buffer comes back and nothing plays.
TEST(SoundSinkStop, CloseAfterAStopDiscardsTheQueue) {
  Options options;
  options.paused = true;
  Fixture f(options);
  ASSERT_NE(f.sink, nullptr);
  const Bytes audio = currency(10 * kBytesPerBuffer + 100);
  EXPECT_EQ(f.writeAll(audio), static_cast<int64_t>(audio.size()));
  EXPECT_EQ(f.device->heldNow(), 10);
  f.stop.store(1);
  const Clock::time_point closing = Clock::now();
  EXPECT_EQ(f.sink->close(), 0);
  EXPECT_LE(msSince(closing), kPromptMs);
  EXPECT_EQ(f.device->resets(), 1);
  EXPECT_EQ(f.device->doneCount(), 10);
  EXPECT_EQ(f.device->heldNow(), 0);
  EXPECT_TRUE(f.device->played().empty());
}

// At the normal end of the input the queued audio is heard to its end.
TEST(SoundSinkPlayOut, CloseAtTheEndPlaysTheQueueOut) {
  Options options;
  options.bufferMs = 10;
  Fixture f(options);
  ASSERT_NE(f.sink, nullptr);
  const Bytes audio = currency(40 * kBytesPerBuffer + 100);
  EXPECT_EQ(f.writeAll(audio), static_cast<int64_t>(audio.size()));
  EXPECT_EQ(f.sink->close(), 0);
  EXPECT_EQ(f.device->played(), expansion(audio, 40 * kBytesPerBuffer));
}

TEST(SoundSinkPlayOut, StopDuringPlayOutEndsItPromptly) {
  Options options;
  options.bufferMs = 32;
  Fixture f(options);
  ASSERT_NE(f.sink, nullptr);
  const Bytes audio = currency(kSoundBufferCount * kBytesPerBuffer);
  EXPECT_EQ(f.writeAll(audio), static_cast<int64_t>(audio.size()));
  Clock::time_point stopped;
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    stopped = Clock::now();
    f.stop.store(1);
  });
  EXPECT_EQ(f.sink->close(), 0);
  const Clock::time_point closed = Clock::now();
  stopper.join();
  EXPECT_LE(
      std::chrono::duration_cast<std::chrono::milliseconds>(closed - stopped)
          .count(),
      kPromptMs);
  EXPECT_LT(f.device->played().size(), audio.size() * 2);
  EXPECT_EQ(f.device->heldNow(), 0);
}

// A device that never plays cannot hold close for longer than the bound.
// Stops at random moments of a playback (the writer waiting for buffers,
// or the queue playing out at the end): the writer and the close return
// promptly, every buffer comes back, and what played is the audio's start.
TEST(SoundSinkStop, StopsAtRandomMomentsOfPlayback) {
  std::mt19937 random(5);
  const Bytes audio = currency(2 * kSoundBufferCount * kBytesPerBuffer);
  for (int run = 0; run < 40; ++run) {
    const int delayMs = static_cast<int>(random() % 200);
    SCOPED_TRACE("stop after " + std::to_string(delayMs) + " ms");
    Options options;
    options.bufferMs = 2;
    Fixture f(options);
    ASSERT_NE(f.sink, nullptr);
    Clock::time_point stopped;
    std::thread stopper([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
      stopped = Clock::now();
      f.stop.store(1);
    });
    f.writeAll(audio);
    EXPECT_EQ(f.sink->close(), 0);
    const Clock::time_point closed = Clock::now();
    stopper.join();
    if (closed > stopped) {
      EXPECT_LE(std::chrono::duration_cast<std::chrono::milliseconds>(closed - stopped)
                    .count(),
                kPromptMs);
    }
    EXPECT_EQ(f.device->heldNow(), 0);
    EXPECT_EQ(f.device->overwrites(), 0);
    const Bytes played = f.device->played();
    const Bytes expected = expansion(audio, audio.size());
    ASSERT_LE(played.size(), expected.size());
    EXPECT_TRUE(std::equal(played.begin(), played.end(), expected.begin()));
  }
}

TEST(SoundSinkPlayOut, PlayOutIsBounded) {
  Options options;
  options.paused = true;
  Fixture f(options);
  ASSERT_NE(f.sink, nullptr);
  const Bytes audio = currency(5 * kBytesPerBuffer);
  EXPECT_EQ(f.writeAll(audio), static_cast<int64_t>(audio.size()));
  const Clock::time_point closing = Clock::now();
  EXPECT_EQ(f.sink->close(), 0);
  EXPECT_GE(msSince(closing), kSoundPlayOutLimitMs - 50);
  EXPECT_LE(msSince(closing), kSoundPlayOutLimitMs + 1000);
  EXPECT_TRUE(f.device->played().empty());
  EXPECT_EQ(f.device->heldNow(), 0);
}

// A buffer the device refuses is not played, and its free-buffer unit is
// not lost with it: the sink keeps accepting audio.
TEST(SoundSinkPacing, RefusedBuffersDoNotStallTheRing) {
  Options options = instant();
  options.refuseQueue = true;
  Fixture f(options);
  ASSERT_NE(f.sink, nullptr);
  const Bytes audio = currency(2 * kSoundBufferCount * kBytesPerBuffer);
  auto writer =
      std::async(std::launch::async, [&] { return f.writeAll(audio); });
  if (writer.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    f.stop.store(1);  // frees the writer so that the test can end
    ADD_FAILURE() << "write waits for buffers the device refused";
  }
  EXPECT_EQ(writer.get(), static_cast<int64_t>(audio.size()));
  EXPECT_EQ(f.sink->close(), 0);
  EXPECT_TRUE(f.device->played().empty());
}

}  // namespace
