// Playback through ALSA without a sound card: the `file` plugin over `null`
// captures exactly what the device was given, so the tests compare it with
// the expected 16-bit expansion. Covers the ALSA wave-out layer, the sound
// device sink over it, and whole program runs (with a capture device and
// with no device at all). A FIFO as the capture file makes a device that
// blocks: in the open while the FIFO has no reader, in its writes while the
// reader does not read.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "codecs/g711.h"
#include "sound/sound_device_sink.h"
#include "sound/wave_out.h"
#include "tests/alaw_audio.h"
#include "tests/scoped_env.h"
#include "tests/test_clock.h"
#include "tests/test_files.h"

namespace {

using test_files::Bytes;
using test_files::TempDir;

constexpr int32_t kBytesPerBuffer = kSoundBufferBytes / 2;

// The default PCM writes what it is given to $ALSA_CAPTURE_FILE.
const char kCaptureConfig[] =
    "pcm.!default { type file slave { pcm { type null } }\n"
    "  file { @func getenv vars [ ALSA_CAPTURE_FILE ] default \"/dev/null\" }\n"
    "  format \"raw\" }\n";
// The default PCM is a sound card this machine does not have.
const char kMissingCardConfig[] = "pcm.!default { type hw card 9 }\n";
// The default PCM takes A-law only, so 16-bit samples are refused.
const char kAlawOnlyConfig[] =
    "pcm.!default { type alaw slave { pcm { type null } format S16_LE } }\n";

using test_env::ScopedEnv;

Bytes currency(size_t length, uint32_t seed = 3) {
  return alaw_audio::currency(length, seed);
}
using alaw_audio::expansion;

// A temporary folder holding the ALSA configurations; the environment of
// the test process points ALSA at one of them.
class AlsaCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.path().empty());
    ASSERT_TRUE(writeText("capture.conf", kCaptureConfig));
    ASSERT_TRUE(writeText("missing.conf", kMissingCardConfig));
    ASSERT_TRUE(writeText("alaw.conf", kAlawOnlyConfig));
    capture_ = dir_.file("capture.raw");
  }

  bool writeText(const std::string& name, const char* text) {
    const std::string value(text);
    return test_files::writeFile(dir_.file(name),
                                 Bytes(value.begin(), value.end()));
  }
  // Points ALSA at configuration `name` for the rest of the test.
  void useConfig(const std::string& name) {
    config_.reset();  // restores the outer value before saving it again
    captureEnv_.reset();
    config_.reset(new ScopedEnv("ALSA_CONFIG_PATH", dir_.file(name).c_str()));
    captureEnv_.reset(new ScopedEnv("ALSA_CAPTURE_FILE", capture_.c_str()));
  }
  Bytes captured() const { return test_files::readFile(capture_); }

  TempDir dir_;
  std::string capture_;
  std::unique_ptr<ScopedEnv> config_;
  std::unique_ptr<ScopedEnv> captureEnv_;
};

TEST_F(AlsaCapture, OpenReportsAMissingDeviceAndARefusedFormat) {
  struct Case {
    const char* config;
    int32_t result;
    const char* report;  // soundReportOpenFailure's line, "\r" removed
  };
  for (const Case& c :
       {Case{"missing.conf", kWaveOutNoDevice, "no audio device available\n"},
        Case{"alaw.conf", kWaveOutBadFormat,
             "audio device refuses the audio format (Invalid argument)\n"},
        Case{"capture.conf", kWaveOutOk, ""}}) {
    SCOPED_TRACE(c.config);
    useConfig(c.config);
    int32_t result = -100;
    auto sink = openSoundDeviceSink(nullptr, &result);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(sink != nullptr, c.result == kWaveOutOk);
    sink.reset();
    ::testing::internal::CaptureStderr();
    soundReportOpenFailure(result);
    std::string line = ::testing::internal::GetCapturedStderr();
    line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
    EXPECT_EQ(line, c.report);
  }
}

using Clock = std::chrono::steady_clock;

int64_t msSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() -
                                                               start)
      .count();
}

// A FIFO for the capture file. The device's open(2) of it blocks until it
// has a reader; its write(2) blocks once the FIFO is full and nobody reads.
class Fifo {
 public:
  explicit Fifo(std::string path) : path_(std::move(path)) {
    made_ = mkfifo(path_.c_str(), 0600) == 0;
  }
  ~Fifo() { release(); }
  Fifo(const Fifo&) = delete;
  Fifo& operator=(const Fifo&) = delete;

  bool made() const { return made_; }
  const std::string& path() const { return path_; }
  // Opens the read end, then never reads until release.
  bool openReader() {
    if (fd_ < 0) fd_ = open(path_.c_str(), O_RDONLY | O_NONBLOCK);
    return fd_ >= 0;
  }
  // Lets every writer go: reads until the last one has closed its end
  // (at most 5 s), so no thread stays blocked on the FIFO. The read end
  // stays open while a writer remains, which would die of SIGPIPE.
  void release() {
    if (!made_ || !openReader()) return;
    const Clock::time_point start = Clock::now();
    char bytes[65536];
    while (msSince(start) < 5000) {
      const ssize_t got = read(fd_, bytes, sizeof bytes);
      if (got == 0) {
        close(fd_);
        fd_ = -1;
        return;
      }
      if (got < 0 && errno == EAGAIN) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
  }

 private:
  std::string path_;
  bool made_ = false;
  int fd_ = -1;
};

struct StuckOpenCase {
  const char* name;
  int32_t stopAfterMs;  // -1: no stop
  int64_t minMs;
  int64_t maxMs;
};

class AlsaStuckOpen : public AlsaCapture,
                      public ::testing::WithParamInterface<StuckOpenCase> {};

// The open of a FIFO without a reader never returns by itself.
TEST_P(AlsaStuckOpen, OpenGivesUp) {
  const StuckOpenCase& c = GetParam();
  Fifo fifo(dir_.file("pipe"));
  ASSERT_TRUE(fifo.made());
  capture_ = fifo.path();
  useConfig("capture.conf");
  std::atomic<int32_t> stop{0};
  int32_t result = -100;
  const Clock::time_point start = Clock::now();
  std::future<std::unique_ptr<AudioSink>> opening = std::async(
      std::launch::async, [&] { return openSoundDeviceSink(&stop, &result); });
  if (c.stopAfterMs >= 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(c.stopAfterMs));
    stop.store(1);
  }
  const bool answered =
      opening.wait_until(start + std::chrono::milliseconds(
                                     kWaveOutOpenLimitMs + 3000)) ==
      std::future_status::ready;
  if (!answered) fifo.release();  // so that the open can end at all
  std::unique_ptr<AudioSink> sink = opening.get();
  const int64_t elapsed = msSince(start);
  EXPECT_TRUE(answered);
  EXPECT_EQ(sink, nullptr);
  EXPECT_EQ(result, kWaveOutTimedOut);
  EXPECT_GE(elapsed, c.minMs);
  EXPECT_LE(elapsed, test_clock::boundMs(static_cast<double>(c.maxMs)));
  sink.reset();
  fifo.release();  // the abandoned open ends and closes its PCM
}

INSTANTIATE_TEST_SUITE_P(
    Fifo, AlsaStuckOpen,
    ::testing::Values(
        StuckOpenCase{"AfterTheLimit", -1, kWaveOutOpenLimitMs - 50,
                      kWaveOutOpenLimitMs + 700},
        StuckOpenCase{"SoonAfterAStop", 200, 150, 700}),
    [](const ::testing::TestParamInfo<StuckOpenCase>& info) {
      return info.param.name;
    });

// A device stuck in a write must not hold the sink's close after a stop.
TEST_F(AlsaCapture, CloseAfterAStopReturnsWhileTheDeviceIsStuck) {
  Fifo fifo(dir_.file("pipe"));
  ASSERT_TRUE(fifo.made());
  ASSERT_TRUE(fifo.openReader());
  capture_ = fifo.path();
  useConfig("capture.conf");
  std::atomic<int32_t> stop{0};
  auto sink = openSoundDeviceSink(&stop);
  ASSERT_NE(sink, nullptr);
  // 20 s: far more than the FIFO, the PCM and the ring together hold.
  const Bytes audio = currency(20 * 8000);
  const int32_t length = static_cast<int32_t>(audio.size());
  std::thread stopper([&stop] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop.store(1);
  });
  const Result written = sink->write(audio.data(), length);
  stopper.join();
  EXPECT_LT(written, length);  // the device stopped taking audio

  const Clock::time_point start = Clock::now();
  std::future<Result> closing =
      std::async(std::launch::async, [&sink] { return sink->close(); });
  const bool closed = closing.wait_for(std::chrono::milliseconds(1000)) ==
                      std::future_status::ready;
  if (!closed) fifo.release();  // so that the close can end at all
  EXPECT_EQ(closing.get(), 0);
  EXPECT_TRUE(closed) << "close took " << msSince(start) << " ms";
  sink.reset();
  fifo.release();  // the abandoned playback thread ends and closes its PCM
}

struct CaptureCase {
  const char* name;
  std::vector<int32_t> writes;
  int32_t playedBuffers;
};

class AlsaSinkCapture : public AlsaCapture,
                        public ::testing::WithParamInterface<CaptureCase> {};

TEST_P(AlsaSinkCapture, DevicePlaysTheFullBuffersInOrder) {
  const CaptureCase& c = GetParam();
  useConfig("capture.conf");
  std::atomic<int32_t> stop{0};
  auto sink = openSoundDeviceSink(&stop);
  ASSERT_NE(sink, nullptr);
  size_t total = 0;
  for (int32_t length : c.writes) total += static_cast<size_t>(length);
  const Bytes audio = currency(total);
  size_t at = 0;
  for (int32_t length : c.writes) {
    EXPECT_EQ(sink->write(audio.data() + at, length), length);
    at += static_cast<size_t>(length);
  }
  EXPECT_EQ(sink->close(), 0);
  EXPECT_EQ(sink->write(audio.data(), 1), kResultSoundNotOpen);
  sink.reset();
  EXPECT_EQ(captured(), expansion(audio, static_cast<size_t>(c.playedBuffers) *
                                             kBytesPerBuffer));
}

INSTANTIATE_TEST_SUITE_P(
    Writes, AlsaSinkCapture,
    ::testing::Values(CaptureCase{"OneBlockFillsTwoBuffers", {1024}, 2},
                      CaptureCase{"OneByteQueuesNothing", {1}, 0},
                      CaptureCase{"FiveHundredElevenMoreQueueOne", {1, 511}, 1},
                      CaptureCase{"PartLastBufferUnplayed", {700, 700, 700}, 4},
                      CaptureCase{"TwoLapsOfTheRing", {2 * 64 * 512 + 9}, 128}),
    [](const ::testing::TestParamInfo<CaptureCase>& info) {
      return info.param.name;
    });

TEST_F(AlsaCapture, FirstChannelIsLeft) {
  useConfig("capture.conf");
  auto sink = openSoundDeviceSink(nullptr);
  ASSERT_NE(sink, nullptr);
  Bytes audio;
  for (int i = 0; i < kBytesPerBuffer / 2; ++i) {
    audio.push_back(0xAA);  // first direction: loud positive
    audio.push_back(0x55);  // second direction: silence
  }
  ASSERT_EQ(sink->write(audio.data(), kBytesPerBuffer), kBytesPerBuffer);
  sink.reset();
  const Bytes pcm = captured();
  ASSERT_EQ(pcm.size(), static_cast<size_t>(kSoundBufferBytes));
  EXPECT_EQ(static_cast<int16_t>(pcm[0] | pcm[1] << 8), 32256);  // left
  EXPECT_EQ(static_cast<int16_t>(pcm[2] | pcm[3] << 8), -8);     // right
}

// The layer itself: a reset hands every queued buffer back and the device
// keeps playing new ones; close hands back what is still queued.
TEST_F(AlsaCapture, ResetAndCloseHandEveryBufferBack) {
  useConfig("capture.conf");
  std::atomic<int32_t> done{0};
  auto onDone = [](void* context, WaveOutBuffer*) {
    static_cast<std::atomic<int32_t>*>(context)->fetch_add(1);
  };
  std::unique_ptr<WaveOutDevice> device;
  ASSERT_EQ(waveOutOpen(WaveOutFormat(), onDone, &done, &device), kWaveOutOk);
  std::vector<Bytes> blocks(8, currency(1024));
  std::vector<WaveOutBuffer> buffers(8);
  for (size_t i = 0; i < buffers.size(); ++i) {
    buffers[i].data = blocks[i].data();
    buffers[i].length = 1024;
    ASSERT_EQ(device->prepare(&buffers[i]), kWaveOutOk);
  }
  WaveOutBuffer odd;
  odd.data = blocks[0].data();
  odd.length = 1022;  // not whole frames
  EXPECT_EQ(device->prepare(&odd), kWaveOutInvalid);
  EXPECT_EQ(device->queue(&odd), kWaveOutInvalid);

  for (WaveOutBuffer& buffer : buffers) {
    ASSERT_EQ(device->queue(&buffer), kWaveOutOk);
  }
  EXPECT_EQ(device->reset(), kWaveOutOk);
  EXPECT_EQ(done.load(), 8);
  for (WaveOutBuffer& buffer : buffers) {
    ASSERT_EQ(device->queue(&buffer), kWaveOutOk);
  }
  device->close();
  EXPECT_EQ(done.load(), 16);
  for (WaveOutBuffer& buffer : buffers) {
    EXPECT_EQ(device->unprepare(&buffer), kWaveOutOk);
  }
  EXPECT_EQ(device->queue(&buffers[0]), kWaveOutInvalid);
  device.reset();
}

// Runs a shell command line; returns its exit status, -1 when it did not
// exit normally.
int runShell(const std::string& command) {
  const int status = std::system(command.c_str());
  return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string shellQuoted(const std::string& text) { return "'" + text + "'"; }

// The audio bytes of a WAV file's data chunk.
Bytes wavData(const Bytes& file) {
  size_t at = 12;
  while (at + 8 <= file.size()) {
    const uint32_t size = test_files::le32At(file, at + 4);
    if (file[at] == 'd' && file[at + 1] == 'a' && file[at + 2] == 't' &&
        file[at + 3] == 'a') {
      const size_t end = std::min(file.size(), at + 8 + size);
      return Bytes(file.begin() + static_cast<long>(at + 8),
                   file.begin() + static_cast<long>(end));
    }
    at += 8 + size + (size & 1);
  }
  return Bytes();
}

class AlsaProgram : public AlsaCapture {
 protected:
  void SetUp() override {
    AlsaCapture::SetUp();
    wav_ = dir_.file("call.wav");
    ASSERT_EQ(runShell(shellQuoted(MAKE_TEST_CALL_EXE) + " " +
                       shellQuoted(wav_) + " --alaw --seconds 2"),
              0);
  }
  // Runs the program on the call with ALSA configuration `config`; returns
  // its exit status and keeps its standard error in err_.
  int play(const std::string& config) {
    const std::string err = dir_.file("err.txt");
    const int status =
        runShell("ALSA_CONFIG_PATH=" + shellQuoted(dir_.file(config)) +
                 " ALSA_CAPTURE_FILE=" + shellQuoted(capture_) +
                 " timeout 60 " + shellQuoted(HEARKENER_EXE) + " -i " +
                 shellQuoted(wav_) + " </dev/null 2>" + shellQuoted(err));
    const Bytes text = test_files::readFile(err);
    err_.assign(text.begin(), text.end());
    return status;
  }

  std::string wav_;
  std::string err_;
};

TEST_F(AlsaProgram, PlaysACallFileToItsLastFullBuffer) {
  const Bytes audio = wavData(test_files::readFile(wav_));
  ASSERT_EQ(audio.size(), 32000u);
  EXPECT_EQ(play("capture.conf"), 0);
  EXPECT_EQ(err_, "");
  const size_t full = audio.size() / kBytesPerBuffer * kBytesPerBuffer;
  EXPECT_EQ(captured(), expansion(audio, full));
}

TEST_F(AlsaProgram, NoDeviceEndsWithStatusZeroAndTellsTheOperator) {
  EXPECT_EQ(play("missing.conf"), 0);
  EXPECT_EQ(err_, "no audio device available\n");
  EXPECT_TRUE(captured().empty());
}

}  // namespace
