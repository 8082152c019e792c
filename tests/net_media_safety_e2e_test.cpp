// End-to-end tests of how a run ends: framed input that stops with audio
// still decoded or with undecodable frames, a service that fails or
// vanishes, an IPv4 literal host, and input files the source must refuse.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/e2e_test_names.h"
#include "tests/framed_stream.h"

namespace {

using namespace e2e_names;

constexpr uint8_t kSilence = 0x55;  // A-law silence, as the decoder pads

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A mode-7 frame of A-law (type 2) or of an unsupported type (11).
void addFrame(Bytes& stream, uint8_t direction, uint8_t type,
              const Bytes& payload) {
  framed::appendFrame(stream, framed::typedFrame(direction, type, payload), 7);
}

// The currency of two directions' bytes of equal length.
Bytes interleave(const Bytes& first, const Bytes& second) {
  Bytes audio;
  for (size_t i = 0; i < first.size(); ++i) {
    audio.push_back(first[i]);
    audio.push_back(second[i]);
  }
  return audio;
}

TEST(NetMediaSafetyE2e, FramedWavFilesEndWithAllTheirAudio) {
  const Bytes a = e2e::patternBytes(300, 3);
  const Bytes b = e2e::patternBytes(320, 4);
  struct Case {
    const char* name;
    Bytes stream;
    int status;
    Bytes audio;
  };
  std::vector<Case> cases;
  {
    Case c{"300 samples in one direction", {}, 0, {}};
    addFrame(c.stream, 0, 2, Bytes(a.begin(), a.begin() + 150));
    addFrame(c.stream, 0, 2, Bytes(a.begin() + 150, a.end()));
    c.audio = interleave(a, Bytes(300, kSilence));
    cases.push_back(c);
  }
  {
    Case c{"unsupported codec in the last frame", {}, 248, {}};
    addFrame(c.stream, 0, 2, Bytes(b.begin(), b.begin() + 160));
    addFrame(c.stream, 1, 2, Bytes(b.begin() + 160, b.end()));
    addFrame(c.stream, 1, 11, {1, 2});
    c.audio = interleave(Bytes(b.begin(), b.begin() + 160),
                         Bytes(b.begin() + 160, b.end()));
    cases.push_back(c);
  }
  {
    Case c{"unsupported codec in every frame", {}, 248, {}};
    addFrame(c.stream, 0, 11, {1, 2});
    addFrame(c.stream, 1, 11, {3, 4});
    cases.push_back(c);
  }
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    framed::finish(c.stream);
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    e2e::WavPlan plan;
    plan.tag = 0xF001;
    plan.channels = 1;
    plan.data = c.stream;
    const RunResult run = e2e::convertFile(
        dir.file("in.wav"), e2e::buildWav(plan), dir.file("out.wav"));
    ASSERT_TRUE(run.exited) << "signal " << run.termSignal;
    EXPECT_EQ(run.exitStatus, c.status) << run.err;
    EXPECT_EQ(e2e::difference(test_files::readFile(dir.file("out.wav")),
                              e2e::recordingOf(c.audio)),
              "");
  }
}

// How the service's side of a run ends decides the run's status.
TEST(NetMediaSafetyE2e, ServiceFailuresFailTheRun) {
  Bytes frames;
  addFrame(frames, 0, 2, Bytes(160, 0x11));
  addFrame(frames, 1, 2, Bytes(160, 0x22));
  const std::string stream(frames.begin(), frames.end());
  struct Case {
    const char* name;
    Family family;
    std::vector<std::string> mode;
    LoopbackServer::Script script;
    int status;
    const char* err;  // a part of the standard error; "" for none at all
  } cases[] = {
      {"framed stream reset by the service",
       Family::kIpv6,
       {"-r"},
       [&](Peer& peer) {
         peer.send("[End]\r\n");
         peer.receive(7, kPeerTimeoutMs);
         peer.send(stream);
         peer.reset();
       },
       251,
       nullptr},
      {"IPv4 literal host",
       Family::kIpv4,
       {},
       [](Peer& peer) {
         peer.send("[End]\r\n");
         peer.receive(7, kPeerTimeoutMs);
         peer.send(std::string(400, '\x55'));
       },
       0,
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    LoopbackServer server(c.family, c.script);
    ASSERT_TRUE(server.listening());
    std::vector<std::string> args{
        "-h", server.host(), "-p", server.portText(),
        "-q", "sales",       "-F", dir.file("out.wav")};
    args.insert(args.end(), c.mode.begin(), c.mode.end());
    const RunResult run = runHearkener(args);
    server.join();
    ASSERT_TRUE(run.exited) << "signal " << run.termSignal;
    EXPECT_EQ(run.exitStatus, c.status) << run.err;
    if (c.err == nullptr) continue;
    if (c.err[0] == '\0') {
      EXPECT_EQ(run.err, "");
    } else {
      EXPECT_TRUE(contains(run.err, c.err)) << run.err;
    }
  }
}

// Inputs the WAV source refuses at once: "could not open audio file".
TEST(NetMediaSafetyE2e, UnreadableInputFilesAreRefusedPromptly) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  e2e::WavPlan plan;
  plan.channels = 257;
  plan.data = Bytes(400, 0x55);
  ASSERT_TRUE(test_files::writeFile(dir.file("257.wav"), e2e::buildWav(plan)));
  ASSERT_EQ(mkfifo(dir.file("fifo").c_str(), 0600), 0);
  for (const char* name : {"257.wav", "fifo"}) {
    SCOPED_TRACE(name);
    RunOptions options;
    options.timeoutMs = 5000;
    const RunResult run = runHearkener(
        {"-i", dir.file(name), "-F", dir.file("out.wav")}, options);
    ASSERT_TRUE(run.exited) << "timed out: " << run.timedOut;
    EXPECT_EQ(run.exitStatus, 253);
    EXPECT_TRUE(contains(run.err, "could not open audio file")) << run.err;
  }
}

}  // namespace
