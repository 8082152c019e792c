#include "app/run_reporter.h"

#include <gtest/gtest.h>

#include <string>

#include "media/framed_context.h"
#include "tests/framed_stream.h"

namespace {

// Every dropped frame counts once, whatever lines it caused; the lines
// still reach the console unchanged.
TEST(RunReporter, CountsEachDroppedFrameOnceAndPrintsItsLines) {
  framed::Feed feed;
  framed::Bytes& stream = feed.bytes;
  framed::appendFrame(stream, framed::typedFrame(0, 2, {0xD5, 0xD5}), 7);
  stream.insert(stream.end(), {0xFF, 0x01, 0x02, 0xAA, 0x00, 0x00});  // CRC
  stream.insert(stream.end(), {0xFF, 0x17});                          // short
  framed::appendFrame(stream, {0x00}, 7);  // no codec type byte
  framed::appendFrame(stream, framed::typedFrame(0, 99, {0x01}), 7);
  framed::appendFrame(stream, framed::typedFrame(1, 2, {0xD5, 0xD5}), 7);
  framed::finish(stream);
  RunReporter reporter;
  FramedContext* context = framedContextCreate(
      framed::pullFeed, &feed, InputMode::kFramedTyped, &reporter);
  ASSERT_NE(context, nullptr);
  testing::internal::CaptureStderr();
  framed::readAll(context);
  const std::string printed = testing::internal::GetCapturedStderr();
  framedContextDestroy(context);
  EXPECT_EQ(reporter.framesDropped(), 4u);
  EXPECT_EQ(printed,
            "bad CRC 0x177e\n"
            "short frame\n"
            "missing control byte\n"
            "could not decode frame (ret=-1\n"
            "unsupported codec type 99\n"
            "could not decode frame (ret=-3\n");
}

}  // namespace
