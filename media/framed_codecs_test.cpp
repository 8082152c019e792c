// Each block codec end to end through the FramedContext, on payloads made by an
// encoder that is not ours, against the decoding library's own output for
// the same payloads followed by the >> 2 and A-law step.
#include <gsm.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "codecs/g711.h"
#include "media/framed_context.h"
#include "tests/framed_stream.h"
#include "tests/run_program.h"
#include "tests/test_files.h"

extern "C" {
#include <bcg729/decoder.h>
#include <bcg729/encoder.h>
}

// spandsp last: its telephony.h redefines lrint and friends.
#include <spandsp/telephony.h>
#include <spandsp/g722.h>
#undef lrint
#undef lrintf

namespace {

using framed::Bytes;
using Samples = std::vector<int16_t>;

struct ContextDeleter {
  void operator()(FramedContext* context) const {
    framedContextDestroy(context);
  }
};
using ContextPtr = std::unique_ptr<FramedContext, ContextDeleter>;

// Two seconds of speech at 8000 samples per second: espeak-ng when it is
// installed, otherwise a voiced, pitch-varying synthetic signal.
const Samples& speech() {
  static const Samples samples = [] {
    Samples out;
    if (run_program::toolAvailable("espeak-ng") &&
        run_program::toolAvailable("sox")) {
      const run_program::RunResult r = run_program::runShell(
          "espeak-ng --stdout 'Please hold the line while the call is "
          "recorded for quality' | sox -t wav - -t raw -r 8000 -c 1 -b 16 "
          "-e signed-integer -");
      for (size_t i = 0; i + 1 < r.out.size() && out.size() < 16000; i += 2) {
        out.push_back(static_cast<int16_t>(
            static_cast<uint8_t>(r.out[i]) | static_cast<uint8_t>(r.out[i + 1]) << 8));
      }
    }
    if (out.size() < 16000) {
      out.clear();
      double phase = 0;
      for (int i = 0; i < 16000; ++i) {
        const double t = i / 8000.0;
        phase += 2 * M_PI * (110 + 40 * std::sin(2 * M_PI * 3 * t)) / 8000.0;
        double v = 0;
        for (int h = 1; h <= 12; ++h) v += std::sin(h * phase) / h;
        const double envelope = 0.5 + 0.5 * std::sin(2 * M_PI * 4 * t);
        out.push_back(static_cast<int16_t>(7000 * envelope * v));
      }
    }
    return out;
  }();
  return samples;
}

// The other direction hears something else: the same speech, halved and
// started later.
Samples otherSpeech() {
  const Samples& s = speech();
  Samples out(s.size());
  for (size_t i = 0; i < s.size(); ++i) out[i] = static_cast<int16_t>(s[(i + 3000) % s.size()] / 2);
  return out;
}

Bytes expectedAlaw(const Samples& samples) {
  Bytes out;
  for (int16_t s : samples) out.push_back(linearToAlaw(s >> 2));
  return out;
}

// Frames `unitsPerFrame` units of each direction's encoded bytes at a time,
// alternating directions, and decodes the stream with a fresh context.
framed::Output decodeThroughContext(const Bytes encoded[2], int unitBytes,
                                    int unitsPerFrame, uint8_t codecType) {
  framed::Feed feed;
  const size_t step = static_cast<size_t>(unitBytes * unitsPerFrame);
  for (size_t at = 0; at < encoded[0].size(); at += step) {
    for (int d = 0; d < 2; ++d) {
      const size_t n = std::min(step, encoded[d].size() - at);
      const Bytes payload(encoded[d].begin() + static_cast<std::ptrdiff_t>(at),
                          encoded[d].begin() + static_cast<std::ptrdiff_t>(at + n));
      framed::appendFrame(feed.bytes,
                          framed::typedFrame(static_cast<uint8_t>(d), codecType, payload), 7);
    }
  }
  framed::finish(feed.bytes);
  feed.segment = 700;
  ContextPtr context(
      framedContextCreate(framed::pullFeed, &feed, InputMode::kFramedTyped));
  EXPECT_NE(context, nullptr);
  if (!context) return {};
  return framed::readAll(context.get());
}

void expectChannels(const framed::Output& out, const Samples reference[2]) {
  for (int d = 0; d < 2; ++d) {
    SCOPED_TRACE("direction " + std::to_string(d));
    const Bytes expected = expectedAlaw(reference[d]);
    ASSERT_EQ(out.channel[d].size(), expected.size());
    EXPECT_TRUE(out.channel[d] == expected);
  }
}

TEST(FramedCodecs, GsmMatchesLibgsm) {
  const Samples input[2] = {speech(), otherSpeech()};
  Bytes encoded[2];
  Samples reference[2];
  for (int d = 0; d < 2; ++d) {
    gsm encoder = gsm_create();
    gsm decoder = gsm_create();
    for (size_t at = 0; at + 160 <= input[d].size(); at += 160) {
      gsm_signal block[160];
      std::copy_n(input[d].begin() + static_cast<std::ptrdiff_t>(at), 160, block);
      gsm_byte frame[33];
      gsm_encode(encoder, block, frame);
      encoded[d].insert(encoded[d].end(), frame, frame + 33);
      gsm_signal decoded[160];
      ASSERT_EQ(gsm_decode(decoder, frame, decoded), 0);
      reference[d].insert(reference[d].end(), decoded, decoded + 160);
    }
    gsm_destroy(encoder);
    gsm_destroy(decoder);
  }
  expectChannels(decodeThroughContext(encoded, 33, 2, 4), reference);
}

TEST(FramedCodecs, G729MatchesBcg729) {
  const Samples input[2] = {speech(), otherSpeech()};
  Bytes encoded[2];
  Samples reference[2];
  for (int d = 0; d < 2; ++d) {
    bcg729EncoderChannelContextStruct* encoder = initBcg729EncoderChannel(0);
    bcg729DecoderChannelContextStruct* decoder = initBcg729DecoderChannel();
    for (size_t at = 0; at + 80 <= input[d].size(); at += 80) {
      uint8_t frame[10];
      uint8_t length = 0;
      bcg729Encoder(encoder, input[d].data() + at, frame, &length);
      ASSERT_EQ(length, 10);
      encoded[d].insert(encoded[d].end(), frame, frame + 10);
      int16_t decoded[80];
      bcg729Decoder(decoder, frame, 10, 0, 0, 0, decoded);
      reference[d].insert(reference[d].end(), decoded, decoded + 80);
    }
    closeBcg729EncoderChannel(encoder);
    closeBcg729DecoderChannel(decoder);
  }
  expectChannels(decodeThroughContext(encoded, 10, 4, 9), reference);
}

TEST(FramedCodecs, G729ErasureFlagReachesTheFirstUnitOnly) {
  const Samples& input = speech();
  bcg729EncoderChannelContextStruct* encoder = initBcg729EncoderChannel(0);
  bcg729DecoderChannelContextStruct* decoder = initBcg729DecoderChannel();
  framed::Feed feed;
  Samples reference;
  for (int f = 0; f < 40; ++f) {
    const bool erasure = f % 3 == 1;
    Bytes payload;
    for (int u = 0; u < 4; ++u) {
      uint8_t frame[10];
      uint8_t length = 0;
      bcg729Encoder(encoder, input.data() + (f * 4 + u) * 80, frame, &length);
      payload.insert(payload.end(), frame, frame + 10);
      int16_t decoded[80];
      bcg729Decoder(decoder, frame, 10, erasure && u == 0 ? 1 : 0, 0, 0, decoded);
      reference.insert(reference.end(), decoded, decoded + 80);
    }
    // Both directions carry the same frames: direction 1 without erasures.
    framed::appendFrame(feed.bytes, framed::controlFrame(0, 9, payload, erasure), 6);
    framed::appendFrame(feed.bytes, framed::controlFrame(1, 9, payload, false), 6);
  }
  closeBcg729EncoderChannel(encoder);
  closeBcg729DecoderChannel(decoder);
  framed::finish(feed.bytes);
  ContextPtr context(
      framedContextCreate(framed::pullFeed, &feed, InputMode::kFramed));
  ASSERT_NE(context, nullptr);
  const framed::Output out = framed::readAll(context.get());
  EXPECT_TRUE(out.channel[0] == expectedAlaw(reference));
  EXPECT_FALSE(out.channel[1] == out.channel[0]);  // the flag made a difference
}

TEST(FramedCodecs, G722MatchesSpandsp) {
  const Samples input[2] = {speech(), otherSpeech()};
  Bytes encoded[2];
  Samples reference[2];
  for (int d = 0; d < 2; ++d) {
    g722_encode_state_t* encoder =
        g722_encode_init(nullptr, 64000, G722_SAMPLE_RATE_8000);
    g722_decode_state_t* decoder =
        g722_decode_init(nullptr, 64000, G722_SAMPLE_RATE_8000);
    ASSERT_TRUE(encoder && decoder);
    encoded[d].resize(input[d].size());
    const int n = g722_encode(encoder, encoded[d].data(), input[d].data(),
                              static_cast<int>(input[d].size()));
    encoded[d].resize(static_cast<size_t>(n) / 80 * 80);
    reference[d].resize(encoded[d].size());
    ASSERT_EQ(g722_decode(decoder, reference[d].data(), encoded[d].data(),
                          static_cast<int>(encoded[d].size())),
              static_cast<int>(encoded[d].size()));
    g722_encode_free(encoder);
    g722_decode_free(decoder);
  }
  expectChannels(decodeThroughContext(encoded, 80, 4, 13), reference);
}

// G.726 through the ffmpeg program: encoded with -code_size, decoded back
// by a fresh decoder from the start of the raw stream.
class G726Tool {
 public:
  G726Tool() {
    test_files::Bytes raw;
    for (int16_t s : speech()) test_files::putLe16(raw, static_cast<uint16_t>(s));
    input_ = dir_.file("speech.raw");
    test_files::writeFile(input_, raw);
  }
  // The encoded stream in whole units, and its reference decode; made once
  // per code size for the whole test program.
  static bool make(int codeSize, Bytes* encoded, Samples* decoded) {
    static G726Tool tool;
    struct Made {
      bool ok = false;
      Bytes encoded;
      Samples decoded;
    };
    static Made made[6];
    if (codeSize < 2 || codeSize > 5) return false;
    Made& m = made[codeSize];
    if (!m.ok) m.ok = tool.run(codeSize, &m.encoded, &m.decoded);
    *encoded = m.encoded;
    *decoded = m.decoded;
    return m.ok;
  }

 private:
  bool run(int codeSize, Bytes* encoded, Samples* decoded) {
    const std::string g726 = dir_.file("s" + std::to_string(codeSize) + ".g726");
    const std::string back = dir_.file("s" + std::to_string(codeSize) + ".raw");
    const std::string size = std::to_string(codeSize);
    if (run_program::runShell("ffmpeg -nostdin -hide_banner -loglevel error -f s16le -ar 8000 "
                              "-ac 1 -i " + input_ + " -c:a g726 -code_size " + size +
                              " -f g726 -y " + g726).exitStatus != 0) {
      return false;
    }
    *encoded = test_files::readFile(g726);
    encoded->resize(encoded->size() / static_cast<size_t>(10 * codeSize) *
                    static_cast<size_t>(10 * codeSize));
    test_files::writeFile(g726, *encoded);
    if (run_program::runShell("ffmpeg -nostdin -hide_banner -loglevel error -f g726 -code_size " +
                              size + " -i " + g726 + " -f s16le -y " + back).exitStatus != 0) {
      return false;
    }
    const Bytes pcm = test_files::readFile(back);
    decoded->clear();
    for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
      decoded->push_back(static_cast<int16_t>(pcm[i] | pcm[i + 1] << 8));
    }
    return decoded->size() == encoded->size() * 8 / static_cast<size_t>(codeSize);
  }

  test_files::TempDir dir_;
  std::string input_;
};

TEST(FramedCodecs, G726EveryRateMatchesTheFfmpegProgram) {
  if (!run_program::toolAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  struct Rate {
    uint8_t codecType;
    int codeSize;
  } rates[] = {{5, 5}, {6, 4}, {7, 3}, {8, 2}};
  for (const Rate& rate : rates) {
    SCOPED_TRACE("code size " + std::to_string(rate.codeSize));
    Bytes encoded;
    Samples decoded;
    ASSERT_TRUE(G726Tool::make(rate.codeSize, &encoded, &decoded));
    const Bytes both[2] = {encoded, encoded};
    const Samples reference[2] = {decoded, decoded};
    expectChannels(decodeThroughContext(both, 10 * rate.codeSize, 4, rate.codecType),
                   reference);
  }
}

// A change of rate restarts the decoder, also when an empty payload of the
// new rate came first (the decoder must never decode a unit at another
// code size than the unit's own).
TEST(FramedCodecs, G726RateChangeRestartsTheDecoder) {
  if (!run_program::toolAvailable("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
  Bytes at16, at32, at40;
  Samples ref16, ref32, ref40;
  ASSERT_TRUE(G726Tool::make(2, &at16, &ref16));
  ASSERT_TRUE(G726Tool::make(4, &at32, &ref32));
  ASSERT_TRUE(G726Tool::make(5, &at40, &ref40));
  struct Step {
    uint8_t type;
    const Bytes* payload;  // sent from its start, 4 units per frame
    bool emptyFirst;       // an empty payload of the type goes first
    const Samples* reference;
  } steps[] = {{8, &at16, false, &ref16},
               {6, &at32, false, &ref32},
               {5, &at40, true, &ref40},
               {8, &at16, true, &ref16}};
  framed::Feed feed;
  Samples reference;
  for (const Step& step : steps) {
    const size_t unit = step.payload->size() / 200;  // 200 units of 80 samples
    for (int d = 0; d < 2 && step.emptyFirst; ++d) {
      framed::appendFrame(feed.bytes, framed::typedFrame(static_cast<uint8_t>(d), step.type, {}), 7);
    }
    for (size_t at = 0; at < 40 * unit; at += 4 * unit) {
      const Bytes payload(step.payload->begin() + static_cast<std::ptrdiff_t>(at),
                          step.payload->begin() + static_cast<std::ptrdiff_t>(at + 4 * unit));
      for (int d = 0; d < 2; ++d) {
        framed::appendFrame(feed.bytes, framed::typedFrame(static_cast<uint8_t>(d), step.type, payload), 7);
      }
    }
    reference.insert(reference.end(), step.reference->begin(), step.reference->begin() + 40 * 80);
  }
  framed::finish(feed.bytes);
  ContextPtr context(
      framedContextCreate(framed::pullFeed, &feed, InputMode::kFramedTyped));
  ASSERT_NE(context, nullptr);
  testing::internal::CaptureStderr();
  const framed::Output out = framed::readAll(context.get());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  const Samples both[2] = {reference, reference};
  expectChannels(out, both);
}

}  // namespace
