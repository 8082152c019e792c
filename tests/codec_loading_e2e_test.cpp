// End-to-end tests of loading the codec libraries: a run maps only the
// libraries its codec types need, and a library that cannot be loaded costs
// only the frames of its codec.
#include <gsm.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/e2e_wav.h"
#include "tests/framed_stream.h"
#include "tests/loopback_server.h"
#include "tests/run_program.h"
#include "tests/test_files.h"

namespace {

using e2e::Bytes;
using run_program::RunResult;
using run_program::runShell;
using test_files::TempDir;

const char* const kCodecLibraries[] = {
    HEARKENER_SONAME_GSM, HEARKENER_SONAME_BCG729, HEARKENER_SONAME_AVCODEC,
    HEARKENER_SONAME_SPANDSP};

std::string quoted(const std::string& text) { return "'" + text + "'"; }

// One GSM frame of a loud tone.
Bytes gsmTone() {
  gsm encoder = gsm_create();
  gsm_signal samples[160];
  for (int i = 0; i < 160; ++i) {
    samples[i] = static_cast<gsm_signal>(i % 20 < 10 ? 8000 : -8000);
  }
  gsm_byte frame[33];
  gsm_encode(encoder, samples, frame);
  gsm_destroy(encoder);
  return Bytes(frame, frame + 33);
}

// A mode-7 stream: direction 0 GSM (type 4), direction 1 codec type `type`
// with `payloadBytes` per frame (160 samples' worth), 20 ms per direction and
// frame.
Bytes gsmAndOtherCall(int frames, uint8_t type, size_t payloadBytes) {
  const Bytes tone = gsmTone();
  Bytes stream;
  for (int f = 0; f < frames; ++f) {
    framed::appendFrame(stream, framed::typedFrame(0, 4, tone), 7);
    framed::appendFrame(
        stream,
        framed::typedFrame(1, type,
                           Bytes(payloadBytes, static_cast<uint8_t>(f))),
        7);
  }
  framed::finish(stream);
  return stream;
}

// Direction 1 G.729 (type 9, two units of 10 ms).
Bytes gsmAndG729Call(int frames) { return gsmAndOtherCall(frames, 9, 20); }

std::string framedWav(const TempDir& dir, const Bytes& stream) {
  e2e::WavPlan plan;
  plan.tag = 0xF001;
  plan.channels = 1;
  plan.data = stream;
  const std::string path = dir.file("framed.wav");
  EXPECT_TRUE(test_files::writeFile(path, e2e::buildWav(plan)));
  return path;
}

// The dynamic loader lists every object it loads (LD_DEBUG=files).
TEST(CodecLoadingE2e, ARunLoadsOnlyTheLibrariesItsCodecsNeed) {
  if (!HEARKENER_CODECS_LOADED_ON_FIRST_USE) GTEST_SKIP() << "codecs linked";
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  e2e::WavPlan alaw;
  alaw.data = e2e::patternBytes(16000, 1);
  ASSERT_TRUE(test_files::writeFile(dir.file("alaw.wav"), e2e::buildWav(alaw)));
  const std::string framed = framedWav(dir, gsmAndG729Call(50));
  loopback::LoopbackServer server(loopback::Family::kIpv6, [](loopback::Peer& peer) {
    peer.send("sales\r\n[End]\r\n");
    peer.receive(7, 10000);
    peer.send(std::string(8000, '\x55'));
  });
  ASSERT_TRUE(server.listening());
  const std::string exe = quoted(e2e::hearkenerExe());
  const std::string out = quoted(dir.file("out.wav"));

  struct Case {
    const char* name;
    std::string command;
    std::vector<std::string> loaded;
  };
  const Case cases[] = {
      {"WAV conversion", exe + " -i " + quoted(dir.file("alaw.wav")) + " -F " + out, {}},
      {"A-law stream",
       exe + " -h ::1 -p " + server.portText() + " -q sales -F " + out, {}},
      {"GSM and G.729 frames", exe + " -i " + quoted(framed) + " -F " + out,
       {HEARKENER_SONAME_GSM, HEARKENER_SONAME_BCG729}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const RunResult run = runShell("LD_DEBUG=files " + c.command + " 2>&1");
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitStatus, 0) << run.out;
    for (const char* library : kCodecLibraries) {
      const bool expected = std::find(c.loaded.begin(), c.loaded.end(),
                                      std::string(library)) != c.loaded.end();
      EXPECT_EQ(run.out.find(std::string("file=") + library) != std::string::npos,
                expected)
          << library;
    }
  }
}

// A library that is found but is not the codec library (here a stand-in
// without its functions): one line names it, its frames are skipped as
// undecodable, the other direction is still decoded and the output kept.
// G.726 has a path of its own: its decoder is reopened whenever the rate
// changes, and a failed open is tried again with the next frame.
TEST(CodecLoadingE2e, AMissingLibraryCostsOnlyItsFrames) {
  if (!HEARKENER_CODECS_LOADED_ON_FIRST_USE) GTEST_SKIP() << "codecs linked";
  struct Case {
    const char* library;
    uint8_t type;
    size_t payloadBytes;
    const char* failure;  // printed once for the direction
  };
  const Case cases[] = {
      {HEARKENER_SONAME_BCG729, 9, 20, "could not initialize G.729 context"},
      {HEARKENER_SONAME_AVCODEC, 6, 80, "could not initialize G.726 codec"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.library);
    TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string stand_in = dir.file(c.library);
    ASSERT_EQ(symlink(HEARKENER_CODEC_STAND_IN, stand_in.c_str()), 0);
    const int frames = 25;
    const std::string framed =
        framedWav(dir, gsmAndOtherCall(frames, c.type, c.payloadBytes));
    const std::string out = dir.file("out.wav");
    const RunResult run = runShell("LD_LIBRARY_PATH=" + quoted(dir.path()) +
                                   " " + quoted(e2e::hearkenerExe()) + " -i " +
                                   quoted(framed) + " -F " + quoted(out));
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.exitStatus, run_program::shellStatus(-8));
    for (const std::string& line :
         {std::string("could not load codec library ") + c.library,
          std::string(c.failure)}) {
      const size_t first = run.err.find(line);
      EXPECT_NE(first, std::string::npos) << run.err;
      EXPECT_EQ(run.err.find(line, first + 1), std::string::npos)
          << "printed twice: " << line;
    }
    // GSM on the first channel, silence on the second, for every frame.
    const Bytes bytes = test_files::readFile(out);
    ASSERT_EQ(bytes.size(), 58u + frames * 160 * 2);
    bool heard = false;
    for (size_t i = 58; i < bytes.size(); i += 2) {
      heard = heard || bytes[i] != 0x55;
      ASSERT_EQ(bytes[i + 1], 0x55) << "byte " << i;
    }
    EXPECT_TRUE(heard);
  }
}

}  // namespace
