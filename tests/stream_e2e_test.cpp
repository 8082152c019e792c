// End-to-end tests of live stream input: the program runs as a child
// process against a loopback server that plays the recording service, and
// records into a WAV file.
#include <gtest/gtest.h>
#include <netdb.h>
#include <signal.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e_test_names.h"
#include "tests/test_clock.h"

namespace {

using namespace e2e_names;

// A stop must end the program within about a second. The program notices
// it within about 100 ms (the unit tests hold that to under a second); the
// exit of a sanitizer build on a loaded machine comes on top.
constexpr double kPromptMs = test_clock::boundMs(1500);

std::string text(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// The message line of a failed open; the usage text follows it.
std::string openFailure() {
  return std::string(e2e::hearkenerExe()) +
         ": could not open audio stream\nUsage: ";
}

// A port on ::1 at which nothing listens any more.
int freedPort() {
  LoopbackServer server(
      Family::kIpv6, [](Peer&) {}, 0);
  return server.port();
}

// A run that records one queue: the server script, the options besides
// host, port and output, and what must arrive where.
struct RecordCase {
  const char* name;
  std::vector<std::string> args;
  // Plays the service; stores what the client sent in *received.
  std::function<void(Peer&, std::string* received)> script;
  std::string expectedReceived;
  Bytes audio;   // as the service sent it
  uint16_t tag;  // how the program must read it
};

void PrintTo(const RecordCase& c, std::ostream* os) { *os << c.name; }

class StreamRecording : public ::testing::TestWithParam<RecordCase> {};

TEST_P(StreamRecording, RecordsTheQueueAndEndsWhenTheServiceCloses) {
  const RecordCase& c = GetParam();
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string out = dir.file("out.wav");
  std::string received = "script did not run";
  LoopbackServer server(Family::kIpv6,
                        [&](Peer& peer) { c.script(peer, &received); });
  ASSERT_TRUE(server.listening());
  std::vector<std::string> args = {
      "-h", server.host(), "-p", server.portText(), "-F", out};
  args.insert(args.end(), c.args.begin(), c.args.end());
  const RunResult run = runHearkener(args);
  server.join();
  ASSERT_TRUE(run.exited) << "signal " << run.termSignal;
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(received, c.expectedReceived);
  EXPECT_EQ(
      e2e::difference(test_files::readFile(out),
                      e2e::recordingOf(e2e::currencyOf(c.tag, 2, c.audio))),
      "");
}

const Bytes kAudio = e2e::patternBytes(5000, 3);
const std::string kList = "queue1\r\nsales\r\n[End]\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, StreamRecording,
    ::testing::Values(
        // The exact exchange; audio in the segment of the end marker comes
        // first; nothing but the name and "\r\n" is ever sent.
        RecordCase{"QueueExchange",
                   {"-q", "sales"},
                   [](Peer& peer, std::string* received) {
                     peer.send(kList + text(kAudio).substr(0, 100));
                     *received = peer.receive(7, kPeerTimeoutMs);
                     peer.send(text(kAudio).substr(100));
                     peer.finishSending();
                     *received += peer.receiveUntilClosed(kPeerTimeoutMs);
                   },
                   "sales\r\n",
                   kAudio,
                   e2e::kTagAlaw},
        // Lines that only look like the end marker, and a long line, do not
        // make the program answer.
        RecordCase{"AlmostEndLines",
                   {"-q", "sales", "-a"},
                   [](Peer& peer, std::string* received) {
                     peer.send("[End]\n [End]\r\n" + std::string(1500, 'l') +
                               "\r\n");
                     *received = peer.receive(1, 300);
                     peer.send("[End]\r\n" + text(kAudio));
                     *received += peer.receive(7, kPeerTimeoutMs);
                     peer.finishSending();
                     *received += peer.receiveUntilClosed(kPeerTimeoutMs);
                   },
                   "sales\r\n",
                   kAudio,
                   e2e::kTagAlaw},
        // Test mode: everything is audio, nothing is sent.
        RecordCase{"TestMode",
                   {"-t"},
                   [](Peer& peer, std::string* received) {
                     peer.send(kList + text(kAudio));
                     peer.finishSending();
                     *received = peer.receiveUntilClosed(kPeerTimeoutMs);
                   },
                   "",
                   [] {
                     Bytes all(kList.begin(), kList.end());
                     all.insert(all.end(), kAudio.begin(), kAudio.end());
                     return all;
                   }(),
                   e2e::kTagAlaw},
        // u-law: every byte value converted (0xFF becomes 0xD5).
        RecordCase{"ULaw",
                   {"-q", "sales", "-u"},
                   [](Peer& peer, std::string* received) {
                     peer.send(kList + text(kAudio));
                     *received = peer.receive(7, kPeerTimeoutMs);
                     peer.finishSending();
                     *received += peer.receiveUntilClosed(kPeerTimeoutMs);
                   },
                   "sales\r\n",
                   kAudio,
                   e2e::kTagUlaw}),
    [](const ::testing::TestParamInfo<RecordCase>& info) {
      return info.param.name;
    });

// Opening fails: one line with the object and the reason ("PORT" stands
// for the port used), then the message, status -5, and no output file;
// the same reasons for -l, whose output is only what the list printed.
TEST(StreamE2e, FailedOpeningsReportTheStreamAndWhy) {
  struct FailCase {
    const char* name;
    LoopbackServer::Script script;
    std::vector<std::string> args;
    bool closedPort;
    std::string reason;
  };
  const std::vector<FailCase> cases = {
      {"connection refused", [](Peer&) {}, {"-q", "sales"}, true,
       "::1 port PORT: Connection refused"},
      {"port beyond the range",
       [](Peer&) {},
       {"-q", "sales", "-p", "70000"},
       false,
       "::1: port 70000 is out of range (1-65535)"},
      {"unknown host",
       [](Peer&) {},
       {"-q", "sales", "-h", "tapd.invalid"},
       false,
       "tapd.invalid: Name or service not known"},
      {"service closes in the list",
       [](Peer& peer) { peer.send("queue1\r\n[En"); },
       {"-q", "sales"},
       false,
       "::1 port PORT: the service closed the connection while sending the "
       "queue list"},
      {"service resets in the list",
       [](Peer& peer) {
         peer.send("queue1\r\n");
         // A reset before the client has seen its connect complete would
         // fail the connect instead.
         std::this_thread::sleep_for(std::chrono::milliseconds(200));
         peer.reset();
       },
       {"-q", "sales"},
       false,
       "::1 port PORT: Connection reset by peer while sending the queue "
       "list"},
      {"list: service closes in the list",
       [](Peer& peer) { peer.send("queue1\r\n[En"); },
       {"-l"},
       false,
       "::1 port PORT: the service closed the connection while sending the "
       "queue list"},
  };
  for (const FailCase& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string out = dir.file("out.wav");
    LoopbackServer server(Family::kIpv6, c.script, c.closedPort ? 0 : 2000);
    ASSERT_TRUE(server.listening());
    const std::string port =
        c.closedPort ? std::to_string(freedPort()) : server.portText();
    std::vector<std::string> args = {"-h", "::1", "-p", port, "-F", out};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult run = runHearkener(args);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitStatus, shellStatus(-5));
    std::string reason = c.reason;
    const size_t portAt = reason.find("PORT");
    if (portAt != std::string::npos) reason.replace(portAt, 4, port);
    // The resolver's own line may come first.
    const size_t reasonAt = run.err.find(reason + "\n" + openFailure());
    EXPECT_NE(reasonAt, std::string::npos) << run.err;
    EXPECT_EQ(run.err.substr(0, reasonAt).find("\n::1"), std::string::npos);
    EXPECT_FALSE(test_files::fileExists(out));
    if (c.args[0] == std::string("-l")) {
      EXPECT_EQ(run.out, "queue1\n");
    }
  }
}

// A reset by the service in the middle of the audio is a network failure:
// status -5, and the whole frames recorded before it are kept, new or
// appended. A run that received no whole frame leaves no trace: a new file
// is removed, and a recording appended to stays as it was, unwritten.
TEST(StreamE2e, ResetKeepsWholeFramesOrNothing) {
  const Bytes prior = e2e::patternBytes(1000, 9);
  const struct {
    size_t sent;
    bool append;
  } cases[] = {{5000, false}, {3, false}, {1, false}, {3, true}, {1, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.sent) + (c.append ? " appended" : " new"));
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string out = dir.file("out.wav");
    if (c.append) {
      ASSERT_TRUE(test_files::writeFile(out, e2e::recordingOf(prior)));
    }
    const auto before = c.append ? std::filesystem::last_write_time(out)
                                 : std::filesystem::file_time_type();
    const Bytes audio(kAudio.begin(), kAudio.begin() + c.sent);
    LoopbackServer server(Family::kIpv6, [&](Peer& peer) {
      peer.send(kList + text(audio));
      peer.receive(7, kPeerTimeoutMs);
      // Long enough for the audio to be read: a reset drops unread bytes.
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      peer.reset();
    });
    ASSERT_TRUE(server.listening());
    const RunResult run =
        runHearkener({"-q", "sales", "-a", "-h", "::1", "-p", server.portText(),
                      c.append ? "-f" : "-F", out});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitStatus, shellStatus(-5));
    Bytes kept = c.append ? prior : Bytes();
    kept.insert(kept.end(), audio.begin(), audio.begin() + (c.sent & ~size_t{1}));
    const bool keeps = c.sent > 1;
    EXPECT_EQ(run.err.find("kept recording " + out) != std::string::npos, keeps)
        << run.err;
    EXPECT_EQ(run.err.rfind("::1 port " + server.portText() +
                                ": Connection reset by peer\n",
                            0),
              0u)
        << run.err;
    EXPECT_EQ(test_files::fileExists(out), keeps || c.append);
    if (keeps || c.append) {
      EXPECT_EQ(e2e::difference(test_files::readFile(out), e2e::recordingOf(kept)),
                "");
    }
    if (c.append && !keeps) {
      EXPECT_EQ(std::filesystem::last_write_time(out), before);
    }
  }
}

// Records the test queue (-t) from a service on 127.0.0.1, reached by
// `host`: the whole audio arrives and nothing is printed.
void recordsFromAnIpv4Service(const std::string& host) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string out = dir.file("out.wav");
  LoopbackServer server(Family::kIpv4,
                        [](Peer& peer) { peer.send(text(kAudio)); });
  ASSERT_TRUE(server.listening());
  const RunResult run =
      runHearkener({"-t", "-h", host, "-p", server.portText(), "-F", out});
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(test_files::readFile(out), e2e::recordingOf(kAudio));
}

// An IPv4 address resolves as a mapped address: no resolver message.
TEST(StreamE2e, Ipv4AddressConnectsWithoutAResolverMessage) {
  recordsFromAnIpv4Service("127.0.0.1");
}

// A name that resolves to ::1 first, while the service listens on
// 127.0.0.1 only: the refused IPv6 connect falls back, silently.
TEST(StreamE2e, NameResolvingToIpv6ReachesAnIpv4OnlyService) {
  const std::string name = loopback::dualStackLoopbackName();
  if (name.empty()) {
    GTEST_SKIP() << "no name resolves to both ::1 and 127.0.0.1 here";
  }
  recordsFromAnIpv4Service(name);
}

// A stop while opening ends the program within a second: the service
// stalls in the middle of its list, or never answers the connect.
TEST(StreamE2e, StopWhileOpeningEndsPromptly) {
  for (const bool connecting : {false, true}) {
    SCOPED_TRACE(connecting ? "connect unanswered" : "list stalled");
    LoopbackServer server(Family::kIpv6, [](Peer& peer) {
      peer.send("queue1\r\nsal");
      peer.stall(kPeerTimeoutMs);
    });
    ASSERT_TRUE(server.listening());
    loopback::UnansweredListener silent;
    if (connecting && !silent.ready()) {
      GTEST_SKIP() << "cannot make a connect go unanswered";
    }
    RunOptions options;
    options.signal = SIGTERM;
    options.timeoutMs = 15000;
    // Only once the program has connected, or is connecting, are its stop
    // handlers surely in place.
    options.signalDelayMs = 100;
    options.signalWhen = [&] {
      return connecting ? silent.pendingConnects() >= 2 : server.accepted();
    };
    const RunResult run =
        connecting ? runHearkener({"-q", "sales", "-h", "127.0.0.1", "-p",
                                   std::to_string(silent.port())},
                                  options)
                   : runHearkener(
                         {"-q", "sales", "-h", "::1", "-p", server.portText()},
                         options);
    ASSERT_FALSE(run.timedOut) << "the program hung";
    ASSERT_TRUE(run.exited) << "signal " << run.termSignal;
    EXPECT_EQ(run.exitStatus, shellStatus(-5));
    EXPECT_NE(run.err.find(openFailure()), std::string::npos) << run.err;
    ASSERT_GE(run.signalSentMs, 0);
    EXPECT_LT(run.endedMs - run.signalSentMs, kPromptMs);
  }
}

// A stop during streaming closes the connection from the stop thread while
// the main loop waits on it: status 0 and a finished recording of a prefix
// of what was sent.
TEST(StreamE2e, StopWhileStreamingKeepsTheRecording) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string out = dir.file("out.wav");
  const Bytes chunk = e2e::patternBytes(320, 9);  // 20 ms of audio
  std::atomic<int> chunksSent{0};
  LoopbackServer server(Family::kIpv6, [&](Peer& peer) {
    for (int i = 0; i < 1000 && peer.send(text(chunk)); ++i) {
      ++chunksSent;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  ASSERT_TRUE(server.listening());
  RunOptions options;
  options.signal = SIGINT;
  options.timeoutMs = 20000;
  // The recording is written in blocks, so its size lags behind: count
  // what the service sent instead.
  options.signalWhen = [&] { return chunksSent.load() >= 20; };
  const RunResult run = runHearkener(
      {"-t", "-h", "::1", "-p", server.portText(), "-F", out}, options);
  ASSERT_FALSE(run.timedOut) << "the program hung";
  ASSERT_TRUE(run.exited) << "signal " << run.termSignal;
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, "");
  ASSERT_GE(run.signalSentMs, 0);
  EXPECT_LT(run.endedMs - run.signalSentMs, kPromptMs);
  const Bytes recording = test_files::readFile(out);
  ASSERT_GT(recording.size(), 58u);
  const size_t audio = recording.size() - 58;
  EXPECT_EQ(e2e::readRange(out, 0, 58), e2e::recordingHeader(audio));
  for (size_t i = 0; i < audio; ++i) {
    ASSERT_EQ(recording[58 + i], chunk[i % chunk.size()]) << "byte " << i;
  }
}

// The service vanishes while the name is being sent: the program is not
// killed by a broken pipe; a failed send fails the open, otherwise the run
// ends as the stream's end or failure decides.
TEST(StreamE2e, ServiceVanishingDuringTheNameIsNotFatal) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string out = dir.file("out.wav");
  LoopbackServer server(Family::kIpv6, [](Peer& peer) {
    peer.send(kList);
    peer.receive(1, kPeerTimeoutMs);
    peer.reset();
  });
  ASSERT_TRUE(server.listening());
  const RunResult run = runHearkener(
      {"-q", "sales", "-h", "::1", "-p", server.portText(), "-F", out});
  ASSERT_TRUE(run.exited) << "killed by signal " << run.termSignal;
  EXPECT_TRUE(run.exitStatus == 0 || run.exitStatus == shellStatus(-5))
      << run.exitStatus;
  // At most the send failure messages and why the exchange failed, then
  // the failed open's message.
  std::string rest = run.err.substr(
      0, run.err.find(std::string(e2e::hearkenerExe()) +
                      ": could not open audio stream"));
  const std::string object = "::1 port " + server.portText() + ": ";
  for (size_t line; (line = rest.find('\n')) != std::string::npos;) {
    EXPECT_TRUE(rest.rfind("send failed, returned -1 (errno=", 0) == 0 ||
                rest.rfind(object, 0) == 0)
        << rest;
    rest = rest.substr(line + 1);
  }
  EXPECT_EQ(rest, "");
}

}  // namespace
