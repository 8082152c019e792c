// CPU cost and latency of the sound device sink while it plays in real time.
//
// Scenarios (each plays SECONDS of audio, default 10):
//   paced-fast      paced stand-in device (32 ms per buffer), a source
//                   faster than real time (a WAV file): write waits for
//                   free buffers.
//   paced-live      the same device, a live source: 320 bytes every 20 ms.
//   alsa-live       the ALSA backend (its playback thread and snd_pcm_writei)
//                   on a `null` PCM, the live source.
// Figures: CPU time as a share of one core (process and the writing thread),
// CPU microseconds per second of audio, and latencies from the write that
// carried a buffer's first or last byte to the buffer reaching the device
// layer (queued to the paced device; written to the ALSA PCM). The device's
// own buffer comes on top: 100 ms for the ALSA backend.
//
// Usage: sound_sink_bench [SECONDS]
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sound/sound_device_sink.h"
#include "tests/paced_wave_out.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int32_t kLiveBlock = 320;  // 20 ms of the two-channel currency
constexpr int32_t kLivePeriodMs = 20;
constexpr int32_t kBytesPerBuffer = kSoundBufferBytes / 2;

double cpuSeconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec / 1e9;
}

double msBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

struct Run {
  double wallSeconds = 0;
  double processCpu = 0;
  double writerCpu = 0;
  // When each write call began, and the stream offset it started at.
  std::vector<Clock::time_point> writeTimes;
  std::vector<int64_t> writeOffsets;
};

// Writes `audioSeconds` of audio into the sink, as fast as it takes it
// (live false) or kLiveBlock bytes every kLivePeriodMs (live true), then
// closes it at a normal end.
Run feed(AudioSink& sink, int audioSeconds, bool live) {
  const int64_t total = int64_t{audioSeconds} * 16000;
  std::vector<uint8_t> block(1024);
  for (size_t i = 0; i < block.size(); ++i) {
    block[i] = static_cast<uint8_t>(i * 37);
  }
  Run run;
  const double process0 = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
  const double thread0 = cpuSeconds(CLOCK_THREAD_CPUTIME_ID);
  const Clock::time_point start = Clock::now();
  int64_t offset = 0;
  for (int64_t turn = 0; offset < total; ++turn) {
    if (live) {
      std::this_thread::sleep_until(
          start + std::chrono::milliseconds(turn * kLivePeriodMs));
    }
    const int32_t length = static_cast<int32_t>(
        std::min<int64_t>(live ? kLiveBlock : 1024, total - offset));
    run.writeTimes.push_back(Clock::now());
    run.writeOffsets.push_back(offset);
    const Result written = sink.write(block.data(), length);
    if (written <= 0) break;
    offset += written;
  }
  sink.close();
  run.wallSeconds = msBetween(start, Clock::now()) / 1000;
  run.processCpu = cpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - process0;
  run.writerCpu = cpuSeconds(CLOCK_THREAD_CPUTIME_ID) - thread0;
  return run;
}

// The time of the write that carried stream byte `offset`.
Clock::time_point writeTimeOf(const Run& run, int64_t offset) {
  const auto it = std::upper_bound(run.writeOffsets.begin(),
                                   run.writeOffsets.end(), offset);
  return run.writeTimes[static_cast<size_t>(it - run.writeOffsets.begin() - 1)];
}

void printCpu(const char* name, int audioSeconds, const Run& run) {
  std::printf(
      "%-11s %3d s audio in %6.2f s: process CPU %6.3f %% of a core "
      "(%5.0f us per audio s), writing thread %6.3f %% (%5.0f us per audio "
      "s)\n",
      name, audioSeconds, run.wallSeconds,
      100 * run.processCpu / run.wallSeconds,
      1e6 * run.processCpu / audioSeconds,
      100 * run.writerCpu / run.wallSeconds,
      1e6 * run.writerCpu / audioSeconds);
}

// Latency of buffer k reaching the device at `arrived[k]`: from the write
// of its first byte and from the write of its last byte.
void printLatency(const char* name, const Run& run,
                  const std::vector<Clock::time_point>& arrived) {
  double firstSum = 0, firstMax = 0, lastSum = 0, lastMax = 0;
  const size_t count = arrived.size();
  for (size_t k = 0; k < count; ++k) {
    const int64_t first = static_cast<int64_t>(k) * kBytesPerBuffer;
    const double fromFirst = msBetween(writeTimeOf(run, first), arrived[k]);
    const double fromLast =
        msBetween(writeTimeOf(run, first + kBytesPerBuffer - 1), arrived[k]);
    firstSum += fromFirst;
    lastSum += fromLast;
    firstMax = std::max(firstMax, fromFirst);
    lastMax = std::max(lastMax, fromLast);
  }
  if (count == 0) return;
  std::printf(
      "%-11s latency over %zu buffers: from first byte's write mean %6.2f ms "
      "max %6.2f ms; from last byte's write mean %6.3f ms max %6.3f ms\n",
      name, count, firstSum / count, firstMax, lastSum / count, lastMax);
}

void pacedScenario(const char* name, int audioSeconds, bool live) {
  paced_wave_out::Options options;
  options.bufferMs = 32;
  auto device = std::make_shared<paced_wave_out::PacedWaveOut>(options);
  std::atomic<int32_t> stop{0};
  auto sink = openSoundDeviceSinkWith(device->opener(), &stop);
  if (sink == nullptr) {
    std::printf("%s: could not open the sink\n", name);
    return;
  }
  const Run run = feed(*sink, audioSeconds, live);
  sink.reset();
  printCpu(name, audioSeconds, run);
  if (live) printLatency(name, run, device->queueTimes());
}

// Stamps every done notification before passing it on to the sink.
struct DoneTap {
  WaveOutDoneCallback done = nullptr;
  void* context = nullptr;
  std::mutex mutex;
  std::vector<Clock::time_point> times;  // guarded by mutex
};

void tapDone(void* context, WaveOutBuffer* buffer) {
  DoneTap* tap = static_cast<DoneTap*>(context);
  {
    std::lock_guard<std::mutex> lock(tap->mutex);
    tap->times.push_back(Clock::now());
  }
  tap->done(tap->context, buffer);
}

// The ALSA backend on a `null` PCM. That PCM reports no delay, so a buffer
// is handed back as soon as the playback thread has written it with
// snd_pcm_writei: the done notification marks its arrival at the PCM.
void alsaScenario(int audioSeconds) {
  char dir[] = "/tmp/hearkener-bench-XXXXXX";
  if (mkdtemp(dir) == nullptr) return;
  const std::string config = std::string(dir) + "/asound.conf";
  FILE* conf = std::fopen(config.c_str(), "w");
  if (conf == nullptr) return;
  std::fputs("pcm.!default { type null }\n", conf);
  std::fclose(conf);
  setenv("ALSA_CONFIG_PATH", config.c_str(), 1);

  DoneTap tap;
  const WaveOutOpener opener = [&tap](const WaveOutFormat& format,
                                      WaveOutDoneCallback done, void* context,
                                      std::unique_ptr<WaveOutDevice>* device) {
    tap.done = done;
    tap.context = context;
    return waveOutOpen(format, tapDone, &tap, device);
  };
  std::atomic<int32_t> stop{0};
  int32_t result = 0;
  auto sink = openSoundDeviceSinkWith(opener, &stop, &result);
  if (sink == nullptr) {
    std::printf("alsa-live: could not open the sink (%d)\n", result);
  } else {
    const Run run = feed(*sink, audioSeconds, true);
    sink.reset();
    printCpu("alsa-live", audioSeconds, run);
    printLatency("alsa-live", run, tap.times);
  }
  unlink(config.c_str());
  rmdir(dir);
}

}  // namespace

int main(int argc, char** argv) {
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  std::printf("sound sink: %d buffers of %d bytes (32 ms each); %d s per run\n",
              kSoundBufferCount, kSoundBufferBytes, seconds);
  pacedScenario("paced-fast", seconds, false);
  pacedScenario("paced-live", seconds, true);
  alsaScenario(seconds);
  return 0;
}
