#include "media/byte_ring.h"

#include <gtest/gtest.h>

namespace {

class ByteRingTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(ringInit(&ring_, 4000), 0); }
  void TearDown() override { ringRelease(&ring_); }
  void put(int n) {
    for (int i = 0; i < n; ++i) ringPutByte(&ring_, static_cast<uint8_t>(i));
  }
  void get(int n) {
    for (int i = 0; i < n; ++i) ringGetByte(&ring_);
  }
  ByteRing ring_;
};

TEST_F(ByteRingTest, FreshRingKeepsOneByteFree) {
  EXPECT_EQ(ringFill(&ring_), 0);
  EXPECT_EQ(ringFillContiguous(&ring_), 0);
  EXPECT_EQ(ringSpace(&ring_), 3999);
  EXPECT_EQ(ringSpaceContiguous(&ring_), 3999);
}

TEST_F(ByteRingTest, FullRingAndTheLastStorageByte) {
  put(3999);
  EXPECT_EQ(ringSpace(&ring_), 0);
  EXPECT_EQ(ringSpaceContiguous(&ring_), 0);
  EXPECT_EQ(ringFill(&ring_), 3999);
  get(1);
  EXPECT_EQ(ringSpace(&ring_), 1);
  EXPECT_EQ(ringSpaceContiguous(&ring_), 1);  // the last storage byte
  put(1);
  EXPECT_EQ(ring_.write, ring_.base);
  EXPECT_EQ(ringSpace(&ring_), 0);
  EXPECT_EQ(ringSpaceContiguous(&ring_), 0);
  EXPECT_EQ(ringFill(&ring_), 3999);
}

TEST_F(ByteRingTest, ContiguousSpaceStopsAtTheEnd) {
  put(3990);
  get(10);
  EXPECT_EQ(ring_.read - ring_.base, 10);
  EXPECT_EQ(ring_.write - ring_.base, 3990);
  EXPECT_EQ(ringSpaceContiguous(&ring_), 10);
  EXPECT_EQ(ringSpace(&ring_), 19);
  EXPECT_EQ(ringFill(&ring_), 3980);
}

TEST_F(ByteRingTest, CommitAndGetWrapAtTheEnd) {
  put(3990);
  get(3990);
  ringCommit(&ring_, 10);  // lands exactly on end
  EXPECT_EQ(ring_.write, ring_.base);
  EXPECT_EQ(ringFill(&ring_), 10);
  EXPECT_EQ(ringFillContiguous(&ring_), 10);
  get(9);
  EXPECT_EQ(ring_.read, ring_.end - 1);
  get(1);  // from the last storage byte
  EXPECT_EQ(ring_.read, ring_.base);
  EXPECT_EQ(ringFill(&ring_), 0);
}

TEST_F(ByteRingTest, WrappedFillAndBytesInOrder) {
  put(3995);
  get(3995);
  for (int i = 0; i < 20; ++i) ringPutByte(&ring_, static_cast<uint8_t>(i));
  EXPECT_EQ(ringFill(&ring_), 20);
  EXPECT_EQ(ringFillContiguous(&ring_), 5);
  EXPECT_EQ(ringSpace(&ring_), 3979);
  EXPECT_EQ(ringSpaceContiguous(&ring_), 3979);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(ringGetByte(&ring_), i);
}

TEST(ByteRingRelease, ReleaseTwiceIsHarmless) {
  ByteRing ring;
  ASSERT_EQ(ringInit(&ring, 16), 0);
  ringRelease(&ring);
  ringRelease(&ring);
  EXPECT_EQ(ring.base, nullptr);
  EXPECT_EQ(ring.capacity, 16);
}

}  // namespace

namespace {

TEST(ByteRingPutBytes, BlockWrapsLikeSinglePuts) {
  for (int offset : {0, 5, 9, 10, 11, 15}) {
    SCOPED_TRACE(offset);
    ByteRing ring;
    ASSERT_EQ(ringInit(&ring, 16), 0);
    for (int i = 0; i < offset; ++i) ringPutByte(&ring, 0);
    for (int i = 0; i < offset; ++i) ringGetByte(&ring);
    const uint8_t block[15] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    ringPutBytes(&ring, block, 15);
    EXPECT_EQ(ringFill(&ring), 15);
    EXPECT_EQ(ringSpace(&ring), 0);
    for (uint8_t expected : block) ASSERT_EQ(ringGetByte(&ring), expected);
    EXPECT_EQ(ring.write - ring.base, (offset + 15) % 16);
    ringRelease(&ring);
  }
}

}  // namespace
