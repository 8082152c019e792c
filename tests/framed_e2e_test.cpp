// End-to-end tests of framed input: WAV files with the framed format tags
// converted by the program, and framed live streams recorded with -r.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e_test_names.h"
#include "tests/framed_stream.h"

namespace {

using namespace e2e_names;

constexpr uint16_t kTagFramed = 0xF000;
constexpr uint16_t kTagTyped = 0xF001;

// A framed call: both directions in A-law and u-law frames of 160 bytes,
// with silence frames in between; and the currency it must become.
struct Call {
  Bytes stream;
  Bytes audio;
};

Call makeCall(int mode, int frames, bool unsupported) {
  Call call;
  const Bytes pattern = e2e::patternBytes(static_cast<size_t>(frames) * 160, 9);
  for (int f = 0; f < frames; ++f) {
    const Bytes a(pattern.begin() + f * 160, pattern.begin() + (f + 1) * 160);
    Bytes b(160, static_cast<uint8_t>(0x80 + f));
    for (uint8_t d = 0; d < 2; ++d) {
      const uint8_t type = d == 0 ? 2 : 3;
      const Bytes& payload = d == 0 ? a : b;
      framed::appendFrame(call.stream,
                          mode == 6 ? framed::controlFrame(d, type, payload)
                                    : framed::typedFrame(d, type, payload),
                          mode);
    }
    if (unsupported && f == frames / 2) {
      framed::appendFrame(call.stream,
                          mode == 6 ? framed::controlFrame(0, 11, {1, 2})
                                    : framed::typedFrame(0, 11, {1, 2}),
                          mode);
    }
    const Bytes converted = e2e::currencyOf(e2e::kTagUlaw, 1, b);
    for (size_t i = 0; i < 160; ++i) {
      call.audio.push_back(a[i]);
      call.audio.push_back(converted[2 * i]);
    }
  }
  framed::finish(call.stream);
  return call;
}

TEST(FramedE2e, WavFilesWithFramedTagsAreDecoded) {
  struct Case {
    const char* name;
    uint16_t tag;
    int mode;
    bool unsupported;
    int status;
    std::string err;
  } cases[] = {
      {"control byte frames", kTagFramed, 6, false, 0, ""},
      {"typed frames", kTagTyped, 7, false, 0, ""},
      {"unsupported codec type", kTagTyped, 7, true, 248,
       "unsupported codec type 11\ncould not decode frame (ret=-3\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const Call call = makeCall(c.mode, 40, c.unsupported);
    e2e::WavPlan plan;
    plan.tag = c.tag;
    plan.channels = 1;
    plan.data = call.stream;
    const RunResult run = e2e::convertFile(
        dir.file("in.wav"), e2e::buildWav(plan), dir.file("out.wav"));
    ASSERT_TRUE(run.exited) << "signal " << run.termSignal;
    EXPECT_EQ(run.exitStatus, c.status);
    EXPECT_EQ(run.err, c.err);
    // The recording is kept, undecodable frames or not.
    EXPECT_EQ(e2e::difference(test_files::readFile(dir.file("out.wav")),
                              e2e::recordingOf(call.audio)),
              "");
  }
}

// Bytes after the data chunk are not frames of the stream.
TEST(FramedE2e, DecodingStopsAtTheEndOfTheDataChunk) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const Call call = makeCall(7, 10, false);
  Call more = makeCall(7, 4, false);
  e2e::WavPlan plan;
  plan.tag = kTagTyped;
  plan.data = call.stream;
  plan.extraChunks.push_back({"junk", Bytes(3, 0)});
  Bytes file = e2e::buildWav(plan);
  file.insert(file.end(), more.stream.begin(), more.stream.end());
  const RunResult run =
      e2e::convertFile(dir.file("in.wav"), file, dir.file("out.wav"));
  ASSERT_TRUE(run.exited);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(e2e::difference(test_files::readFile(dir.file("out.wav")),
                            e2e::recordingOf(call.audio)),
            "");
}

// -r: the service's framed stream, split across segments at awkward
// places, recorded until the service closes.
TEST(FramedE2e, FramedStreamFromTheServiceIsRecorded) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const Call call = makeCall(7, 30, false);
  std::string received = "script did not run";
  loopback::LoopbackServer server(loopback::Family::kIpv6, [&](loopback::Peer& peer) {
    const std::string stream(call.stream.begin(), call.stream.end());
    peer.send("queue1\r\n[End]\r\n" + stream.substr(0, 3));
    received = peer.receive(7, 10000);
    for (size_t at = 3; at < stream.size(); at += 211) {
      peer.send(stream.substr(at, 211));
    }
    peer.finishSending();
    received += peer.receiveUntilClosed(10000);
  });
  ASSERT_TRUE(server.listening());
  const std::string out = dir.file("out.wav");
  const RunResult run = runHearkener({"-h", server.host(), "-p", server.portText(),
                                      "-q", "sales", "-r", "-F", out});
  server.join();
  ASSERT_TRUE(run.exited) << "signal " << run.termSignal;
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(received, "sales\r\n");
  EXPECT_EQ(e2e::difference(test_files::readFile(out), e2e::recordingOf(call.audio)), "");
}

}  // namespace
