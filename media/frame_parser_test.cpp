#include "media/frame_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "media/fcs16.h"
#include "tests/framed_stream.h"

namespace {

using Bytes = std::vector<uint8_t>;

// An input ring with its parser state, fed in pieces; collects the frames
// and the console output.
class Parser {
 public:
  explicit Parser(int skipCount) : skip_(skipCount) {
    ringInit(&input_.ring, 1024);
  }
  ~Parser() { ringRelease(&input_.ring); }

  // Queues `bytes` and parses until the ring is empty.
  void feed(const Bytes& bytes) {
    size_t at = 0;
    while (at < bytes.size()) {
      while (at < bytes.size() && ringSpace(&input_.ring) > 0) {
        ringPutByte(&input_.ring, bytes[at++]);
      }
      testing::internal::CaptureStderr();
      while (parseFrame(&input_, &frame_, skip_) == 1) {
        frames.emplace_back(frame_.bytes, frame_.bytes + frame_.length);
      }
      messages += testing::internal::GetCapturedStderr();
    }
  }

  std::vector<Bytes> frames;
  std::string messages;

 private:
  int skip_;
  FrameInput input_;
  FrameBuffer frame_;
};

TEST(Fcs16, SwappedRegisterOfTheExamples) {
  struct Case {
    Bytes covered;
    uint8_t check0, check1;
  } cases[] = {
      {{0x01, 0x02, 0xAA}, 0xF0, 0xA5},
      {{0xD5, 0xD5, 0xD5, 0xD5}, 0xE0, 0x7C},
      {{0x01, 0x02, 0x4A}, 0xFE, 0x42},
  };
  for (const Case& c : cases) {
    uint8_t check[2];
    fcs16CheckBytes(c.covered.data(), static_cast<int32_t>(c.covered.size()),
                    check);
    EXPECT_EQ(check[0], c.check0);
    EXPECT_EQ(check[1], c.check1);
    uint32_t fcs = kFcs16Initial;
    for (uint8_t b : c.covered) fcs = fcs16Update(fcs, b);
    fcs = fcs16Update(fcs16Update(fcs, c.check0), c.check1);
    EXPECT_EQ(fcs, kFcs16GoodSwapped);
  }
}

TEST(FrameParser, ByteExamples) {
  struct Case {
    const char* name;
    int skip;
    Bytes stream;
    std::vector<Bytes> frames;
    std::string messages;
  } cases[] = {
      {"typed frame", 0, {0xFF, 0x01, 0x02, 0xAA, 0xF0, 0xA5, 0xFF},
       {{0x01, 0x02, 0xAA}}, ""},
      {"control byte frame, direction 0", 1,
       {0xFF, 0x08, 0xD5, 0xD5, 0xD5, 0xD5, 0xE0, 0x7C, 0xFF},
       {{0x08, 0xD5, 0xD5, 0xD5, 0xD5}}, ""},
      {"control byte not covered", 1,
       {0xFF, 0x09, 0xD5, 0xD5, 0xD5, 0xD5, 0xE0, 0x7C, 0xFF},
       {{0x09, 0xD5, 0xD5, 0xD5, 0xD5}}, ""},
      {"escaped check byte", 0, {0xFF, 0x01, 0x02, 0x4A, 0xFE, 0x00, 0x42, 0xFF},
       {{0x01, 0x02, 0x4A}}, ""},
      {"bad check sequence", 0, {0xFF, 0x03, 0x02, 0xAA, 0xF0, 0xA5, 0xFF}, {},
       "bad CRC 0x30e6\n"},
      {"control byte covered in typed mode", 0,
       {0xFF, 0x09, 0xD5, 0xD5, 0xD5, 0xD5, 0xE0, 0x7C, 0xFF}, {},
       "bad CRC 0x"},
      {"bytes before the first flag", 0,
       {0x01, 0x02, 0xAA, 0xF0, 0xA5, 0xFF, 0x01, 0x02, 0xAA, 0xF0, 0xA5, 0xFF},
       {{0x01, 0x02, 0xAA}}, ""},
      {"short frame then a good one", 0,
       {0xFF, 0x17, 0xFF, 0xFF, 0xFF, 0x01, 0x02, 0xAA, 0xF0, 0xA5, 0xFF},
       {{0x01, 0x02, 0xAA}}, "short frame\n"},
      {"two bytes with a wrong check", 0, {0xFF, 0x12, 0x34, 0xFF}, {}, "bad CRC"},
      {"unterminated frame stays pending", 0, {0xFF, 0x01, 0x02, 0xAA, 0xF0},
       {}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Parser parser(c.skip);
    parser.feed(c.stream);
    EXPECT_EQ(parser.frames, c.frames);
    EXPECT_EQ(parser.messages.substr(0, c.messages.size()), c.messages);
    if (c.messages.empty()) {
      EXPECT_EQ(parser.messages, "");
    }
  }
}

TEST(FrameParser, EmptyFrameWithGoodCheckBytes) {
  Bytes stream;
  framed::appendFrame(stream, {}, 7);
  framed::finish(stream);
  Parser parser(0);
  parser.feed(stream);
  ASSERT_EQ(parser.frames.size(), 1u);
  EXPECT_TRUE(parser.frames[0].empty());
}

TEST(FrameParser, EscapesAreUndone) {
  // Data bytes 0xFF, 0xFE, and 0xFE 0x05 standing for 0x03.
  const Bytes frame{0x00, 0x02, 0xFF, 0xFE, 0x03, 0xFD};
  Bytes stream;
  framed::appendFrame(stream, frame, 7);
  framed::finish(stream);
  Parser parser(0);
  parser.feed(stream);
  ASSERT_EQ(parser.frames.size(), 1u);
  EXPECT_EQ(parser.frames[0], frame);

  // The escape's successor is taken as data even when it is a flag.
  Parser raw(0);
  Bytes bytes{0xFF, 0x00, 0x02, 0xFE, 0x05, 0xFE, 0xFF};
  uint8_t check[2];
  const Bytes covered{0x00, 0x02, 0x03, 0xFD};
  fcs16CheckBytes(covered.data(), 4, check);
  bytes.push_back(check[0]);
  bytes.push_back(check[1]);
  bytes.push_back(0xFF);
  ASSERT_LT(check[0], 0xFE);
  ASSERT_LT(check[1], 0xFE);
  raw.feed(bytes);
  ASSERT_EQ(raw.frames.size(), 1u);
  EXPECT_EQ(raw.frames[0], covered);
}

TEST(FrameParser, LongFrameIsReportedOnceAndSkipped) {
  Bytes stream{0xFF};
  for (int i = 0; i < 600; ++i) stream.push_back(0x11);
  framed::appendFrame(stream, {0x01, 0x02, 0xAA}, 7);
  framed::finish(stream);
  Parser parser(0);
  parser.feed(stream);
  EXPECT_EQ(parser.messages, "long frame\n");
  ASSERT_EQ(parser.frames.size(), 1u);
  EXPECT_EQ(parser.frames[0], (Bytes{0x01, 0x02, 0xAA}));
}

TEST(FrameParser, LimitIsFiveHundredTwelveBytesWithCheckBytes) {
  Bytes exact(510, 0x11);
  Bytes stream;
  framed::appendFrame(stream, exact, 7);
  Bytes over(511, 0x11);
  framed::appendFrame(stream, over, 7);
  framed::appendFrame(stream, {0x00, 0x02}, 7);
  framed::finish(stream);
  Parser parser(0);
  parser.feed(stream);
  EXPECT_EQ(parser.messages, "long frame\n");
  // The flag that opens the next frame ends the hunt after `over`.
  EXPECT_EQ(parser.frames, (std::vector<Bytes>{exact, {0x00, 0x02}}));
}

TEST(FrameParser, FramesSplitAcrossEveryByteBoundary) {
  Bytes stream{0x42};
  for (int i = 0; i < 5; ++i) {
    framed::appendFrame(stream, {static_cast<uint8_t>(i), 0x02, 0xFE, 0xFF, 0x7E}, 7);
  }
  framed::finish(stream);
  Parser whole(0);
  whole.feed(stream);
  ASSERT_EQ(whole.frames.size(), 5u);
  Parser split(0);
  for (uint8_t b : stream) split.feed({b});
  EXPECT_EQ(split.frames, whole.frames);
  EXPECT_EQ(split.messages, "");
}

}  // namespace
