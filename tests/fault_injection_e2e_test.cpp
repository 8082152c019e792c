// The fault suite: the program against a misbehaving recording service, and
// stopped at random moments of every phase. Whatever happens, a run ends
// with its documented status within a bound, never crashes or hangs, and
// leaves either no output file or a finished recording (its header matching
// its length) that holds what arrived before the fault.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e_test_names.h"
#include "tests/framed_stream.h"

namespace {

using namespace e2e_names;

constexpr int kNetworkFailure = 251;  // -5
constexpr int kUndecodable = 248;     // -8
// A stop must end a run within this, even under sanitizers on a loaded
// machine; it normally takes a few milliseconds.
constexpr double kPromptMs = 1000;
constexpr char kOpenFailure[] = "could not open audio stream";
const std::string kList = "queue0\r\nq1\r\n[End]\r\n";

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

// "" when `path` is a finished recording whose audio is a prefix of `sent`
// and, when `complete`, all of it; also "" for no file when `mayBeAbsent`.
// Otherwise what is wrong.
std::string recordingProblem(const std::string& path, const Bytes& sent,
                             bool complete, bool mayBeAbsent) {
  if (!test_files::fileExists(path)) return mayBeAbsent ? "" : "no output file";
  const Bytes file = test_files::readFile(path);
  if (file.size() < e2e::kRecordingHeaderLength) return "shorter than a header";
  // An odd length is the half frame an input ended in; an append continues
  // behind the last whole frame.
  const size_t audio = file.size() - e2e::kRecordingHeaderLength;
  const Bytes header(file.begin(), file.begin() + e2e::kRecordingHeaderLength);
  if (header != e2e::recordingHeader(audio)) return "header does not match the length";
  if (audio > sent.size()) return "more audio than was sent";
  if (complete && audio != sent.size()) {
    return "holds " + std::to_string(audio) + " of " + std::to_string(sent.size()) +
           " bytes";
  }
  if (!std::equal(file.begin() + e2e::kRecordingHeaderLength, file.end(), sent.begin())) {
    return "audio is not what was sent";
  }
  if (run_program::toolAvailable("sox") &&
      run_program::runShell("sox --i '" + path + "' >/dev/null 2>&1").exitStatus != 0) {
    return "sox cannot read it";
  }
  return "";
}

// One misbehaving service, what the program is told, and what may come of
// it: the shell statuses allowed, the audio the recording may hold.
struct ServiceFault {
  std::string name;
  std::function<void(Peer&)> script;
  std::vector<std::string> extraArgs;
  std::vector<int> statuses;
  Bytes audio;            // the recording holds a prefix of this
  bool complete = false;  // ... and all of it
  int stopAfterMs = 0;    // SIGINT this long after the start (0: none)
};

void runServiceFault(const ServiceFault& f) {
  SCOPED_TRACE(f.name);
  test_files::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  LoopbackServer server(Family::kIpv4, f.script);
  ASSERT_TRUE(server.listening());
  const std::string out = dir.file("out.wav");
  std::vector<std::string> args = {"-h", server.host(), "-p", server.portText(),
                                   "-q", "q1", "-F", out};
  args.insert(args.end(), f.extraArgs.begin(), f.extraArgs.end());
  RunOptions options;
  options.timeoutMs = 20000;
  if (f.stopAfterMs > 0) {
    options.signal = SIGINT;
    options.signalDelayMs = f.stopAfterMs;
  }
  const RunResult run = e2e::runHearkener(args, options);
  server.release();
  server.join();
  ASSERT_FALSE(run.timedOut) << "the program hung";
  ASSERT_TRUE(run.exited) << "signal " << run.termSignal << "\n" << run.err;
  EXPECT_NE(f.statuses.end(),
            std::find(f.statuses.begin(), f.statuses.end(), run.exitStatus))
      << "status " << run.exitStatus << "\n" << run.err;
  if (run.exitStatus == kNetworkFailure && !test_files::fileExists(out)) {
    EXPECT_NE(std::string::npos, run.err.find(kOpenFailure)) << run.err;
  }
  if (f.stopAfterMs > 0) {
    EXPECT_LT(run.endedMs - run.signalSentMs, kPromptMs);
  }
  EXPECT_EQ("", recordingProblem(out, f.audio, f.complete, !f.complete));
}

// Sends `bytes` one at a time, `gapMs` apart; false once the client is gone.
bool drip(Peer& peer, const std::string& bytes, int gapMs) {
  for (char b : bytes) {
    if (!peer.send(std::string(1, b))) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(gapMs));
  }
  return true;
}

TEST(FaultInjectionE2e, MisbehavingServices) {
  std::mt19937 random(20261208);
  std::vector<ServiceFault> faults;
  // Closing at every byte of the queue list: the open fails; once the whole
  // list is out, the name's send or the empty stream decides.
  for (size_t k = 0; k <= kList.size(); ++k) {
    const bool whole = k == kList.size();
    faults.push_back({"close_after_list_byte_" + std::to_string(k),
                      [k](Peer& peer) {
                        peer.send(kList.substr(0, k));
                        peer.close();
                      },
                      {}, whole ? std::vector<int>{0, kNetworkFailure}
                                : std::vector<int>{kNetworkFailure},
                      {}, false, 0});
  }
  // A reset at random points of the stream: the run fails and keeps what
  // arrived.
  for (int i = 0; i < 4; ++i) {
    const Bytes audio = e2e::patternBytes(random() % 48000, random());
    faults.push_back({"reset_after_" + std::to_string(audio.size()) + "_bytes",
                      [audio](Peer& peer) {
                        peer.send(kList);
                        peer.receive(4, 5000);
                        peer.send(text(audio));
                        std::this_thread::sleep_for(std::chrono::milliseconds(50));
                        peer.reset();
                      },
                      {}, {kNetworkFailure}, audio, false, 0});
  }
  const Bytes audio = e2e::patternBytes(4000, 3);
  faults.push_back({"stall_then_stop",
                    [audio](Peer& peer) {
                      peer.send(kList);
                      peer.receive(4, 5000);
                      peer.send(text(audio));
                      peer.stall(20000);
                    },
                    {}, {0}, audio, true, 700});
  const Bytes few = e2e::patternBytes(301, 4);
  faults.push_back({"drip_every_byte",
                    [few](Peer& peer) {
                      if (drip(peer, kList, 2)) {
                        peer.receive(4, 5000);
                        drip(peer, text(few), 2);
                      }
                      peer.close();
                    },
                    {}, {0}, few, true, 0});
  faults.push_back({"megabyte_line_then_close",
                    [](Peer& peer) {
                      peer.send(std::string(1 << 20, 'x'));
                      peer.close();
                    },
                    {}, {kNetworkFailure}, {}, false, 0});
  faults.push_back({"megabyte_line_then_list",
                    [audio](Peer& peer) {
                      peer.send(std::string(1 << 20, 'x') + "\n" + kList);
                      peer.receive(4, 5000);
                      peer.send(text(audio));
                      peer.close();
                    },
                    {}, {0}, audio, true, 0});
  Bytes garbage = e2e::patternBytes(65536, 5);
  faults.push_back({"binary_garbage_instead_of_a_list",
                    [garbage](Peer& peer) {
                      peer.send(text(garbage));
                      peer.close();
                    },
                    {}, {kNetworkFailure}, {}, false, 0});
  for (const ServiceFault& f : faults) runServiceFault(f);
}

// A framed call of A-law, u-law, GSM and silence frames on both directions.
Bytes framedCall(std::mt19937& random) {
  Bytes stream;
  for (int f = 0; f < 200; ++f) {
    const uint8_t direction = static_cast<uint8_t>(f % 2);
    switch (random() % 4) {
      case 0:
        framed::appendFrame(stream, framed::typedFrame(direction, 2, e2e::patternBytes(160, random())), 7);
        break;
      case 1:
        framed::appendFrame(stream, framed::typedFrame(direction, 3, e2e::patternBytes(160, random())), 7);
        break;
      case 2:
        framed::appendFrame(stream, framed::typedFrame(direction, 4, e2e::patternBytes(33, random())), 7);
        break;
      default:
        framed::appendFrame(stream, framed::typedFrame(direction, 40, {20}), 7);
        break;
    }
  }
  framed::finish(stream);
  return stream;
}

// Framed sessions with about 2 % of their bytes corrupted: received from the
// service, they give exactly what the same bytes give from a framed WAV file.
TEST(FaultInjectionE2e, CorruptedFramedSessionsDecodeAsFromAFile) {
  std::mt19937 random(7);
  for (int session = 0; session < 4; ++session) {
    SCOPED_TRACE(session);
    Bytes stream = framedCall(random);
    for (uint8_t& b : stream) {
      if (random() % 50 == 0) b = static_cast<uint8_t>(random());
    }
    test_files::TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    e2e::WavPlan plan;
    plan.tag = 0xF001;
    plan.data = stream;
    ASSERT_TRUE(test_files::writeFile(dir.file("in.wav"), e2e::buildWav(plan)));
    const RunResult fromFile =
        e2e::runHearkener({"-i", dir.file("in.wav"), "-F", dir.file("file.wav")});

    LoopbackServer server(Family::kIpv4, [&](Peer& peer) {
      peer.send(kList);
      peer.receive(4, 5000);
      for (size_t at = 0; at < stream.size(); at += 997) {
        peer.send(text(Bytes(stream.begin() + at,
                             stream.begin() + std::min(stream.size(), at + 997))));
      }
      peer.close();
    });
    ASSERT_TRUE(server.listening());
    const RunResult fromService = e2e::runHearkener(
        {"-h", server.host(), "-p", server.portText(), "-q", "q1", "-r", "-F",
         dir.file("net.wav")});
    server.join();
    ASSERT_TRUE(fromService.exited) << "signal " << fromService.termSignal;
    ASSERT_TRUE(fromFile.exited) << "signal " << fromFile.termSignal;
    EXPECT_TRUE(fromService.exitStatus == 0 || fromService.exitStatus == kUndecodable)
        << fromService.exitStatus;
    EXPECT_EQ(fromFile.exitStatus, fromService.exitStatus);
    EXPECT_EQ(fromFile.err, fromService.err);
    EXPECT_EQ("", e2e::difference(test_files::readFile(dir.file("net.wav")),
                                  test_files::readFile(dir.file("file.wav"))));
  }
}

// Where a random stop lands, and what the run may then give.
enum class Phase { kConnect, kQueueList, kStreaming, kConversion };

struct StopRun {
  Phase phase;
  int delayMs;
};

// One run stopped `delayMs` after its start. A stop that lands before the
// program listens for it ends the program by the signal, before it opened
// anything.
void runStopped(const StopRun& s, const std::string& longInput) {
  test_files::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string out = dir.file("out.wav");
  const Bytes chunk = e2e::patternBytes(320, 11);  // 20 ms of audio
  Bytes sent;
  std::unique_ptr<LoopbackServer> server;
  std::unique_ptr<loopback::UnansweredListener> unanswered;
  std::vector<std::string> args;
  switch (s.phase) {
    case Phase::kConnect:
      unanswered = std::make_unique<loopback::UnansweredListener>();
      if (!unanswered->ready()) return;
      args = {"-h", "127.0.0.1", "-p", std::to_string(unanswered->port()), "-q", "q1"};
      break;
    case Phase::kQueueList:
      server = std::make_unique<LoopbackServer>(Family::kIpv4, [](Peer& peer) {
        peer.send("queue0\r\n");
        peer.stall(20000);
      });
      args = {"-h", "127.0.0.1", "-p", server->portText(), "-q", "q1"};
      break;
    case Phase::kStreaming:
      for (int i = 0; i < 250; ++i) sent.insert(sent.end(), chunk.begin(), chunk.end());
      server = std::make_unique<LoopbackServer>(Family::kIpv4, [&chunk](Peer& peer) {
        peer.send(kList);
        peer.receive(4, 5000);
        for (int i = 0; i < 250 && peer.send(text(chunk)); ++i) {
          std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
      });
      args = {"-h", "127.0.0.1", "-p", server->portText(), "-q", "q1"};
      break;
    case Phase::kConversion:
      args = {"-i", longInput};
      break;
  }
  args.push_back("-F");
  args.push_back(out);
  RunOptions options;
  options.signal = SIGINT;
  options.signalDelayMs = s.delayMs;
  options.timeoutMs = 20000;
  const RunResult run = e2e::runHearkener(args, options);
  if (server) {
    server->release();
    server->join();
  }
  ASSERT_FALSE(run.timedOut) << "the program hung";
  if (!run.exited) {
    EXPECT_EQ(SIGINT, run.termSignal);
    EXPECT_FALSE(test_files::fileExists(out));
    return;
  }
  EXPECT_LT(run.endedMs - run.signalSentMs, kPromptMs);
  switch (s.phase) {
    case Phase::kConnect:
    case Phase::kQueueList:
      EXPECT_EQ(kNetworkFailure, run.exitStatus);
      EXPECT_NE(std::string::npos, run.err.find(kOpenFailure)) << run.err;
      EXPECT_FALSE(test_files::fileExists(out));
      break;
    case Phase::kStreaming:
      // Stopped before the queue exchange ended: a failed opening.
      if (run.exitStatus == kNetworkFailure) {
        EXPECT_FALSE(test_files::fileExists(out));
        break;
      }
      EXPECT_EQ(0, run.exitStatus) << run.err;
      EXPECT_EQ("", recordingProblem(out, sent, false, false));
      break;
    case Phase::kConversion: {
      // The input's audio is all zeros; its header and its end tell.
      EXPECT_EQ(0, run.exitStatus) << run.err;
      const int64_t size = e2e::fileSize(out);
      ASSERT_GE(size, static_cast<int64_t>(e2e::kRecordingHeaderLength));
      const uint64_t audio = static_cast<uint64_t>(size) - e2e::kRecordingHeaderLength;
      EXPECT_EQ(e2e::recordingHeader(audio),
                e2e::readRange(out, 0, e2e::kRecordingHeaderLength));
      const size_t tail = static_cast<size_t>(std::min<uint64_t>(audio, 4096));
      EXPECT_EQ(Bytes(tail, 0), e2e::readRange(out, static_cast<uint64_t>(size) - tail, tail));
      break;
    }
  }
}

// 160 runs (40 a phase), two at a time, each stopped at a random moment:
// of its first 400 ms on the network, of its first 40 ms when converting
// (about as long as converting the 16 MB input takes; a stop after the end
// finds a finished run).
TEST(FaultInjectionE2e, StopsAtRandomMomentsOfEveryPhase) {
  test_files::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string longInput = dir.file("long.wav");
  ASSERT_TRUE(e2e::writeSparseWav(longInput, e2e::kTagAlaw, 2, 16000000));
  std::mt19937 random(99);
  std::vector<StopRun> runs;
  for (int i = 0; i < 160; ++i) {
    const Phase phase = static_cast<Phase>(i % 4);
    const int window = phase == Phase::kConversion ? 40 : 400;
    runs.push_back({phase, static_cast<int>(random() % window)});
  }
  constexpr size_t kAtOnce = 2;
  for (size_t first = 0; first < runs.size(); first += kAtOnce) {
    std::vector<std::thread> threads;
    for (size_t i = first; i < std::min(runs.size(), first + kAtOnce); ++i) {
      threads.emplace_back([&, i] {
        SCOPED_TRACE("phase " + std::to_string(static_cast<int>(runs[i].phase)) +
                     " after " + std::to_string(runs[i].delayMs) + " ms");
        runStopped(runs[i], longInput);
      });
    }
    for (std::thread& t : threads) t.join();
  }
}

}  // namespace
