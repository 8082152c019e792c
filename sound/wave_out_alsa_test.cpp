// Playback through ALSA without a sound card: the `file` plugin over `null`
// captures exactly what the device was given, so the tests compare it with
// the expected 16-bit expansion. Covers the ALSA wave-out layer, the sound
// device sink over it, and whole program runs (with a capture device and
// with no device at all).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "codecs/g711.h"
#include "sound/sound_device_sink.h"
#include "sound/wave_out.h"
#include "tests/alaw_audio.h"
#include "tests/scoped_env.h"
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
  };
  for (const Case& c : {Case{"missing.conf", kWaveOutNoDevice},
                        Case{"alaw.conf", kWaveOutBadFormat},
                        Case{"capture.conf", kWaveOutOk}}) {
    SCOPED_TRACE(c.config);
    useConfig(c.config);
    int32_t result = -100;
    AudioSink* sink = openSoundDeviceSink(nullptr, &result);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(sink != nullptr, c.result == kWaveOutOk);
    if (sink != nullptr) sink->destroy(sink);
  }
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
  AudioSink* sink = openSoundDeviceSink(&stop);
  ASSERT_NE(sink, nullptr);
  size_t total = 0;
  for (int32_t length : c.writes) total += static_cast<size_t>(length);
  const Bytes audio = currency(total);
  size_t at = 0;
  for (int32_t length : c.writes) {
    EXPECT_EQ(sink->write(sink, audio.data() + at, length), length);
    at += static_cast<size_t>(length);
  }
  EXPECT_EQ(sink->close(sink), 0);
  EXPECT_EQ(sink->write(sink, audio.data(), 1), kResultSoundNotOpen);
  sink->destroy(sink);
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
  AudioSink* sink = openSoundDeviceSink(nullptr);
  ASSERT_NE(sink, nullptr);
  Bytes audio;
  for (int i = 0; i < kBytesPerBuffer / 2; ++i) {
    audio.push_back(0xAA);  // first direction: loud positive
    audio.push_back(0x55);  // second direction: silence
  }
  ASSERT_EQ(sink->write(sink, audio.data(), kBytesPerBuffer), kBytesPerBuffer);
  sink->destroy(sink);
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
