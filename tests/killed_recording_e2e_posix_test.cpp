// End to end: a live recording whose program is killed (SIGKILL: no close,
// no header patch) is still a WAV file that other tools read, short of at
// most the last second of audio.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "tests/e2e_wav.h"
#include "tests/loopback_server.h"
#include "tests/run_program.h"
#include "tests/test_files.h"

namespace {

using e2e::Bytes;

TEST(KilledRecordingE2e, KeepsAValidWavOfAllButTheLastSecond) {
  test_files::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string out = dir.file("live.wav");
  const Bytes chunk = e2e::patternBytes(320, 11);  // 20 ms of audio
  std::atomic<int> chunksSent{0};
  loopback::LoopbackServer server(loopback::Family::kIpv6, [&](loopback::Peer& peer) {
    const std::string bytes(chunk.begin(), chunk.end());
    for (int i = 0; i < 1000 && peer.send(bytes); ++i) {
      ++chunksSent;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  ASSERT_TRUE(server.listening());
  run_program::RunOptions options;
  options.signal = SIGKILL;
  options.timeoutMs = 20000;
  int sentAtKill = 0;
  options.signalWhen = [&] {
    sentAtKill = chunksSent.load();
    return sentAtKill >= 125;  // 2.5 s
  };
  const run_program::RunResult run = e2e::runHearkener(
      {"-t", "-h", "::1", "-p", server.portText(), "-F", out}, options);
  ASSERT_FALSE(run.exited);
  ASSERT_EQ(run.termSignal, SIGKILL);

  const Bytes file = test_files::readFile(out);
  ASSERT_GE(file.size(), 58u);
  const uint32_t counted = test_files::le32At(file, 54);
  const size_t present = file.size() - 58;
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 58), e2e::recordingHeader(counted));
  EXPECT_EQ(counted % 2, 0u);
  EXPECT_GE(present, counted);
  // The header is brought up to date every 16 KiB of the file (1.024 s).
  EXPECT_LE(present - counted, 16384u);
  // All that was sent up to that before the kill; 400 ms for the way
  // through the connection on a loaded machine.
  EXPECT_GE(counted + 16384 + 6400, sentAtKill * chunk.size());
  for (size_t i = 0; i < present; ++i) {
    ASSERT_EQ(file[58 + i], chunk[i % chunk.size()]) << "byte " << i;
  }
  if (!run_program::toolAvailable("sox")) GTEST_SKIP() << "no sox to read it";
  const run_program::RunResult sox = run_program::runShell("sox --i -s '" + out + "'");
  EXPECT_EQ(sox.exitStatus, 0) << sox.err;
  EXPECT_EQ(sox.out, std::to_string(counted / 2) + "\n");
}

}  // namespace
