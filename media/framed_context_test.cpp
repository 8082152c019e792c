#include "media/framed_context.h"

#include <gsm.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "codecs/g711.h"
#include "tests/framed_stream.h"

namespace {

using framed::Bytes;

struct ContextDeleter {
  void operator()(FramedContext* context) const {
    framedContextDestroy(context);
  }
};
using ContextPtr = std::unique_ptr<FramedContext, ContextDeleter>;

ContextPtr makeContext(framed::Feed* feed, InputMode mode) {
  return ContextPtr(framedContextCreate(framed::pullFeed, feed, mode));
}

Bytes alaw(size_t n, uint8_t value) { return Bytes(n, value); }

// Queues `payload` of `codecType` on a direction, as a decoded frame would.
int32_t queue(FramedContext* context, int direction, int32_t codecType,
              const Bytes& payload) {
  return framedChannelDecode(&context->channel[direction], codecType,
                             payload.data(),
                             static_cast<int32_t>(payload.size()), false);
}

TEST(FramedContext, TwoDirectionsAreInterleavedByteByByte) {
  framed::Feed feed;
  framed::appendFrame(feed.bytes, framed::typedFrame(0x00, 2, alaw(160, 0x11)), 7);
  framed::appendFrame(feed.bytes, framed::typedFrame(0x01, 2, alaw(160, 0x22)), 7);
  framed::finish(feed.bytes);
  ContextPtr context = makeContext(&feed, InputMode::kFramedTyped);
  ASSERT_NE(context, nullptr);
  uint8_t buffer[1024];
  int32_t count = 0;
  ASSERT_EQ(framedContextRead(context.get(), buffer, 1024, &count),
            FramedResult::kOk);
  ASSERT_EQ(count, 320);
  for (int i = 0; i < 320; i += 2) {
    ASSERT_EQ(buffer[i], 0x11);
    ASSERT_EQ(buffer[i + 1], 0x22);
  }
  EXPECT_EQ(framedContextRead(context.get(), buffer, 1024, &count),
            FramedResult::kOk);
  EXPECT_EQ(count, 0);
}

TEST(FramedContext, ReadDeliversWholeFramesUpToCapacity) {
  framed::Feed feed;
  framed::appendFrame(feed.bytes, framed::typedFrame(0x00, 2, alaw(100, 0x11)), 7);
  framed::appendFrame(feed.bytes, framed::typedFrame(0x01, 3, alaw(100, 0xFF)), 7);
  framed::finish(feed.bytes);
  ContextPtr context = makeContext(&feed, InputMode::kFramedTyped);
  ASSERT_NE(context, nullptr);
  const framed::Output out = framed::readAll(context.get(), 33);
  EXPECT_EQ(out.results.size(), 7u);  // 6 reads of 32 bytes and one of 8
  EXPECT_EQ(out.channel[0], alaw(100, 0x11));
  EXPECT_EQ(out.channel[1], alaw(100, 0xD5));  // u-law 0xFF is A-law 0xD5
}

// The mixer's padding rule: an empty direction is padded to 400 bytes
// behind the other once that one leads by more than 400 bytes (last unit
// quiet) or 800 bytes (last unit not quiet).
TEST(FramedContext, IdleDirectionIsPaddedWithSilence) {
  struct Case {
    const char* name;
    bool loudBefore;  // direction 1 last decoded a non-quiet unit
    int queued;       // bytes then queued on direction 0
    int padding;      // silence expected on direction 1
  } cases[] = {
      {"idle since creation", false, 1000, 600},
      {"quiet, at the threshold", false, 400, 0},
      {"quiet, one byte over", false, 401, 1},
      {"not quiet, at the threshold", true, 800, 0},
      {"not quiet, one byte over", true, 801, 401},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    framed::Feed feed;
    ContextPtr context = makeContext(&feed, InputMode::kFramedTyped);
    ASSERT_NE(context, nullptr);
    uint8_t buffer[4096];
    if (c.loudBefore) {
      ASSERT_EQ(queue(context.get(), 0, 2, alaw(10, 0x11)), 0);
      ASSERT_EQ(queue(context.get(), 1, 2, alaw(10, 0x22)), 0);
      ASSERT_EQ(framedContextMix(context.get(), buffer, 4096), 20);
      ASSERT_EQ(context->channel[1].lastResult, 0);
    }
    ASSERT_EQ(queue(context.get(), 0, 2, alaw(static_cast<size_t>(c.queued), 0x33)), 0);
    const int32_t delivered = framedContextMix(context.get(), buffer, 4096);
    ASSERT_EQ(delivered, 2 * c.padding);
    for (int i = 0; i < delivered; i += 2) {
      ASSERT_EQ(buffer[i], 0x33);
      ASSERT_EQ(buffer[i + 1], kAlawSilence);
    }
    EXPECT_EQ(ringFill(&context->channel[0].output), c.queued - c.padding);
    if (c.padding > 0) {
      EXPECT_EQ(context->channel[1].lastResult, 1);
    }
  }
}

TEST(FramedContext, ChannelZeroIsPaddedWhenChannelOneLeads) {
  framed::Feed feed;
  ContextPtr context = makeContext(&feed, InputMode::kFramedTyped);
  ASSERT_NE(context, nullptr);
  ASSERT_EQ(queue(context.get(), 1, 2, alaw(500, 0x44)), 0);
  uint8_t buffer[2048];
  ASSERT_EQ(framedContextMix(context.get(), buffer, 2048), 200);
  EXPECT_EQ(buffer[0], kAlawSilence);
  EXPECT_EQ(buffer[1], 0x44);
}

TEST(FramedContext, SilencePayloads) {
  framed::Feed feed;
  ContextPtr context = makeContext(&feed, InputMode::kFramedTyped);
  ASSERT_NE(context, nullptr);
  FramedChannel* channel = &context->channel[0];
  EXPECT_EQ(queue(context.get(), 0, 40, {20}), 1);
  EXPECT_EQ(ringFill(&channel->output), 160);
  EXPECT_EQ(ringGetByte(&channel->output), kAlawSilence);
  EXPECT_EQ(queue(context.get(), 0, 40, {}), 1);  // no duration: nothing
  EXPECT_EQ(ringFill(&channel->output), 159);
  EXPECT_EQ(channel->codecType, 40);

  // A fill beyond the free space is cut to it; unread audio survives.
  ASSERT_EQ(queue(context.get(), 0, 2, alaw(3800, 0x11)), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(queue(context.get(), 0, 40, {255}), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "g711 buffer size exceeded, dropping 2000 bytes of silence data\n");
  EXPECT_EQ(ringSpace(&channel->output), 0);
  for (int i = 0; i < 159; ++i) ASSERT_EQ(ringGetByte(&channel->output), kAlawSilence);
  for (int i = 0; i < 3800; ++i) ASSERT_EQ(ringGetByte(&channel->output), 0x11);
  for (int i = 0; i < 40; ++i) ASSERT_EQ(ringGetByte(&channel->output), kAlawSilence);
  EXPECT_EQ(ringFill(&channel->output), 0);
}

TEST(FramedContext, FullOutputRingDropsTheRestOfAnAlawPayload) {
  framed::Feed feed;
  ContextPtr context = makeContext(&feed, InputMode::kFramedTyped);
  ASSERT_NE(context, nullptr);
  ASSERT_EQ(queue(context.get(), 1, 2, alaw(3990, 0x11)), 0);
  EXPECT_EQ(queue(context.get(), 1, 3, alaw(20, 0xFF)), -1);
  EXPECT_EQ(ringFill(&context->channel[1].output), 3999);
  EXPECT_EQ(context->channel[1].codecType, 0);
}

TEST(FramedContext, UnsupportedCodecTypeIsReportedWithTheAudio) {
  framed::Feed feed;
  framed::appendFrame(feed.bytes, framed::typedFrame(0x00, 11, alaw(10, 0x99)), 7);
  framed::appendFrame(feed.bytes, framed::typedFrame(0x00, 2, alaw(50, 0x11)), 7);
  framed::appendFrame(feed.bytes, framed::typedFrame(0x01, 2, alaw(50, 0x22)), 7);
  framed::appendFrame(feed.bytes, framed::typedFrame(0x01, 11, alaw(10, 0x99)), 7);
  framed::finish(feed.bytes);
  ContextPtr context = makeContext(&feed, InputMode::kFramedTyped);
  ASSERT_NE(context, nullptr);
  uint8_t buffer[1024];
  int32_t count = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(framedContextRead(context.get(), buffer, 1024, &count),
            FramedResult::kUndecodable);
  EXPECT_EQ(count, 100);
  // The end of the input repeats that the run met undecodable frames.
  EXPECT_EQ(framedContextRead(context.get(), buffer, 1024, &count),
            FramedResult::kUndecodable);
  EXPECT_EQ(count, 0);
  const std::string message =
      "unsupported codec type 11\ncould not decode frame (ret=-3\n";
  EXPECT_EQ(testing::internal::GetCapturedStderr(), message + message);
  EXPECT_EQ(context->channel[1].codecType, 0);
}

TEST(FramedContext, ControlByteModeFramesAndMissingHeaders) {
  framed::Feed feed;
  framed::appendFrame(feed.bytes, framed::controlFrame(0, 2, alaw(8, 0x11)), 6);
  framed::appendFrame(feed.bytes, framed::controlFrame(1, 3, alaw(8, 0x7F)), 6);
  framed::finish(feed.bytes);
  ContextPtr context = makeContext(&feed, InputMode::kFramed);
  ASSERT_NE(context, nullptr);
  const framed::Output out = framed::readAll(context.get());
  EXPECT_EQ(out.channel[0], alaw(8, 0x11));
  EXPECT_EQ(out.channel[1], alaw(8, 0x55));  // u-law 0x7F is A-law 0x55

  // No check byte pair over an empty frame passes when the first byte is
  // exempt from the check, so give the decoder an empty frame directly.
  context->frame.length = 0;
  testing::internal::CaptureStderr();
  EXPECT_EQ(framedContextDecodeFrame(context.get()), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "missing control byte\n");

  framed::Feed typed;
  framed::appendFrame(typed.bytes, {0x01}, 7);  // control byte, no type
  framed::finish(typed.bytes);
  ContextPtr typedContext = makeContext(&typed, InputMode::kFramedTyped);
  ASSERT_NE(typedContext, nullptr);
  testing::internal::CaptureStderr();
  framed::readAll(typedContext.get());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "missing control byte\ncould not decode frame (ret=-1\n");
}

TEST(FramedContext, IgnoredTypesQueueNothingAndCountAsNotQuiet) {
  framed::Feed feed;
  ContextPtr context = makeContext(&feed, InputMode::kFramedTyped);
  ASSERT_NE(context, nullptr);
  for (int32_t type : {1, 17}) {
    EXPECT_EQ(queue(context.get(), 0, type, alaw(33, 0xD0)), 0);
    EXPECT_EQ(ringFill(&context->channel[0].output), 0);
    EXPECT_EQ(context->channel[0].codecType, type);
    EXPECT_EQ(context->channel[0].lastResult, 0);
  }
}

TEST(FramedContext, PullFailureEndsTheReadAndTheContextStaysUsable) {
  framed::Feed feed;
  framed::appendFrame(feed.bytes, framed::typedFrame(0x00, 2, alaw(20, 0x11)), 7);
  feed.endResult = -5;
  ContextPtr context = makeContext(&feed, InputMode::kFramedTyped);
  ASSERT_NE(context, nullptr);
  uint8_t buffer[64];
  int32_t count = 7;
  EXPECT_EQ(framedContextRead(context.get(), buffer, 64, &count),
            FramedResult::kPullFailed);
  EXPECT_EQ(count, -1);
  // The rest of the frame arrives later.
  framed::appendFrame(feed.bytes, framed::typedFrame(0x01, 2, alaw(20, 0x22)), 7);
  framed::finish(feed.bytes);
  EXPECT_EQ(framedContextRead(context.get(), buffer, 64, &count),
            FramedResult::kOk);
  EXPECT_EQ(count, 40);
}

TEST(FramedContext, FramesSplitAcrossPulls) {
  framed::Feed whole;
  for (int i = 0; i < 20; ++i) {
    framed::appendFrame(whole.bytes,
                        framed::typedFrame(static_cast<uint8_t>(i & 1), 2,
                                           alaw(37, static_cast<uint8_t>(0xF0 + i))),
                        7);
  }
  framed::finish(whole.bytes);
  framed::Feed split = whole;
  split.segment = 3;
  ContextPtr a = makeContext(&whole, InputMode::kFramedTyped);
  ContextPtr b = makeContext(&split, InputMode::kFramedTyped);
  ASSERT_TRUE(a && b);
  const framed::Output outA = framed::readAll(a.get());
  const framed::Output outB = framed::readAll(b.get());
  EXPECT_EQ(outA.channel[0].size(), 370u);
  EXPECT_EQ(outB.channel[0], outA.channel[0]);
  EXPECT_EQ(outB.channel[1], outA.channel[1]);
}

Bytes gsmFrames(int frames, int amplitude) {
  gsm encoder = gsm_create();
  Bytes out;
  gsm_signal samples[160];
  for (int f = 0; f < frames; ++f) {
    for (int i = 0; i < 160; ++i) {
      samples[i] = static_cast<gsm_signal>(((i * 37 + f * 11) % 200 - 100) *
                                           amplitude / 100);
    }
    gsm_byte frame[33];
    gsm_encode(encoder, samples, frame);
    out.insert(out.end(), frame, frame + 33);
  }
  gsm_destroy(encoder);
  return out;
}

TEST(FramedContext, GsmPayloadWithATrailingPartialFrame) {
  framed::Feed feed;
  ContextPtr context = makeContext(&feed, InputMode::kFramedTyped);
  ASSERT_NE(context, nullptr);
  Bytes payload = gsmFrames(1, 3000);
  payload.resize(40, 0xD0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(queue(context.get(), 0, 4, payload), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "dropping 7 bytes of GSM data\n");
  EXPECT_EQ(ringFill(&context->channel[0].output), 160);
}

TEST(FramedContext, BlockCodecFailuresKeepTheUnitsBefore) {
  framed::Feed feed;
  ContextPtr context = makeContext(&feed, InputMode::kFramedTyped);
  ASSERT_NE(context, nullptr);
  Bytes payload = gsmFrames(3, 3000);
  payload[33] = 0x00;  // the second frame's magic nibble is not 0xD
  testing::internal::CaptureStderr();
  EXPECT_EQ(queue(context.get(), 0, 4, payload), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "GSM decode error, dropping 66 bytes of GSM data\n");
  EXPECT_EQ(ringFill(&context->channel[0].output), 160);

  // Ring full: 3999 - 3900 leaves room for no GSM unit of 160 samples.
  ASSERT_EQ(queue(context.get(), 1, 2, alaw(3900, 0x11)), 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(queue(context.get(), 1, 9, Bytes(20, 0x00)), -1);
  EXPECT_EQ(queue(context.get(), 1, 9, Bytes(20, 0x00)), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "g711 buffer size exceeded, dropping 10 bytes of G.729 data\n"
            "g711 buffer size exceeded, dropping 20 bytes of G.729 data\n");
  EXPECT_EQ(ringFill(&context->channel[1].output), 3980);
  // An empty payload of a block codec is quiet and succeeds.
  EXPECT_EQ(queue(context.get(), 0, 13, {}), 1);
}

TEST(FramedContext, QuietFlag) {
  struct Case {
    std::vector<int16_t> samples;
    int32_t quiet;
  } cases[] = {
      {{}, 1},
      {{1000, 1000, 1000, 1000}, 1},          // constant offset: no energy
      {{0, 20, 0, 20}, 1},                    // energy exactly 100
      {{0, 21, 0, 21}, 0},                    // energy 110
      {{32767, -32768, 32767, -32768}, 0},    // no overflow at full scale
  };
  for (const Case& c : cases) {
    EXPECT_EQ(framedSamplesQuiet(c.samples.data(),
                                 static_cast<int32_t>(c.samples.size())),
              c.quiet);
  }
}

}  // namespace
