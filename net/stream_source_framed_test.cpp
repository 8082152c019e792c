// The stream source in the framed modes: the connection's bytes go through
// the media decoder, whose results the source translates.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "net/socket.h"
#include "net/stream_source.h"
#include "tests/framed_stream.h"
#include "tests/loopback_server.h"
#include "tests/test_clock.h"

namespace {

using framed::Bytes;
using loopback::Family;
using loopback::LoopbackServer;
using loopback::Peer;

std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

struct Reads {
  Bytes audio;
  std::vector<Result> results;
  Result last = 0;
  int32_t lastCount = -7;
};

Reads readToEnd(AudioSource& source) {
  Reads reads;
  uint8_t block[1024];
  for (int turn = 0; turn < 10000; ++turn) {
    const Result waited = source.wait(5000);
    if (waited <= 0) {
      ADD_FAILURE() << "wait returned " << waited;
      break;
    }
    int32_t count = -7;
    reads.last = source.read(block, sizeof block, &count);
    reads.lastCount = count;
    if (count <= 0) break;
    reads.results.push_back(reads.last);
    reads.audio.insert(reads.audio.end(), block, block + count);
  }
  return reads;
}

TEST(StreamSourceFramed, DecodesFramesSplitAcrossSegments) {
  for (const InputMode mode : {InputMode::kFramed, InputMode::kFramedTyped}) {
    const int tag = mode == InputMode::kFramed ? 6 : 7;  // appendFrame's
    SCOPED_TRACE(tag);
    Bytes stream;
    Bytes expected;
    for (int f = 0; f < 12; ++f) {
      const Bytes payload(100, static_cast<uint8_t>(0x10 + f));
      for (uint8_t d = 0; d < 2; ++d) {
        Bytes frame = tag == 6 ? framed::controlFrame(d, 2, payload)
                               : framed::typedFrame(d, 2, payload);
        framed::appendFrame(stream, frame, tag);
      }
      for (int i = 0; i < 100; ++i) {
        expected.push_back(static_cast<uint8_t>(0x10 + f));
        expected.push_back(static_cast<uint8_t>(0x10 + f));
      }
    }
    framed::finish(stream);
    LoopbackServer server(Family::kIpv6, [&](Peer& peer) {
      peer.send("[End]\r\n" + text(Bytes(stream.begin(), stream.begin() + 5)));
      peer.receive(7, 5000);
      for (size_t at = 5; at < stream.size(); at += 37) {
        const size_t end = std::min(stream.size(), at + 37);
        peer.send(text(Bytes(stream.begin() + static_cast<std::ptrdiff_t>(at),
                             stream.begin() + static_cast<std::ptrdiff_t>(end))));
      }
    });
    ASSERT_TRUE(server.listening());
    auto source =
        openStreamSource(server.host(), server.port(), "sales", mode, nullptr);
    ASSERT_NE(source, nullptr);
    const Reads reads = readToEnd(*source);
    server.join();
    EXPECT_EQ(reads.audio, expected);
    EXPECT_EQ(reads.last, 0);
    EXPECT_EQ(reads.lastCount, 0);
    source.reset();
  }
  EXPECT_EQ(netLiveSocketCount(), 0);
}

// An unsupported frame becomes -8 with the audio; a reset of the connection
// comes back as -5 with a count of -1, never as the end of the input.
TEST(StreamSourceFramed, TranslatesDecoderResults) {
  Bytes stream;
  framed::appendFrame(stream, framed::typedFrame(0, 11, {1}), 7);
  framed::appendFrame(stream, framed::typedFrame(0, 2, Bytes(50, 0x11)), 7);
  framed::appendFrame(stream, framed::typedFrame(1, 2, Bytes(50, 0x22)), 7);
  framed::finish(stream);
  LoopbackServer server(Family::kIpv6, [&](Peer& peer) {
    peer.send(text(stream));
    peer.receive(1, 300);
    peer.reset();
  });
  ASSERT_TRUE(server.listening());
  auto source = openStreamSource(server.host(), server.port(), nullptr,
                                 InputMode::kFramedTyped, nullptr);
  ASSERT_NE(source, nullptr);
  testing::internal::CaptureStderr();
  const Reads reads = readToEnd(*source);
  testing::internal::GetCapturedStderr();
  server.join();
  source.reset();
  EXPECT_EQ(reads.results, std::vector<Result>{kResultUndecodable});
  EXPECT_EQ(reads.audio.size(), 100u);
  if (!loopback::resetReachesClient()) {
    GTEST_SKIP() << "an abortive close reaches the client as an orderly one";
  }
  EXPECT_EQ(reads.last, kResultNetwork);
  EXPECT_EQ(reads.lastCount, -1);
}

// Decoded audio that one read could not take is reported ready at once,
// without waiting for more bytes from the service.
TEST(StreamSourceFramed, DecodedAudioIsReadyWithoutNewBytes) {
  Bytes stream;
  framed::appendFrame(stream, framed::typedFrame(0, 2, Bytes(300, 0x11)), 7);
  framed::appendFrame(stream, framed::typedFrame(1, 2, Bytes(300, 0x22)), 7);
  framed::finish(stream);
  LoopbackServer server(Family::kIpv6, [&](Peer& peer) {
    peer.send(text(stream));
    peer.stall(10000);
  });
  ASSERT_TRUE(server.listening());
  auto source = openStreamSource(server.host(), server.port(), nullptr,
                                 InputMode::kFramedTyped, nullptr);
  ASSERT_NE(source, nullptr);
  size_t delivered = 0;
  uint8_t block[100];
  while (delivered < 600) {
    ASSERT_EQ(source->wait(2000), 1) << delivered;
    int32_t count = 0;
    ASSERT_EQ(source->read(block, sizeof block, &count), kResultOk);
    ASSERT_GT(count, 0);
    delivered += static_cast<size_t>(count);
  }
  EXPECT_EQ(delivered, 600u);
  EXPECT_EQ(source->wait(0), 0);
  server.release();
  source.reset();
}

// Urgent data ends the read at once even before any frame decoded: the
// decoder's pull, busy with bytes that hold no frame, must notice it.
TEST(StreamSourceFramed, UrgentDataAmidGarbageEndsTheRead) {
  LoopbackServer server(Family::kIpv6, [](Peer& peer) {
    peer.send("[End]\r\n" + std::string(300, '\x55'));
    peer.receive(7, 5000);
    peer.stall(300);  // the read is pulling by now
    peer.sendUrgent('u');
    peer.stall(10000);
  });
  ASSERT_TRUE(server.listening());
  auto source = openStreamSource(server.host(), server.port(), "sales",
                                 InputMode::kFramedTyped, nullptr);
  ASSERT_NE(source, nullptr);
  ASSERT_EQ(source->wait(5000), 1);
  uint8_t block[1024];
  int32_t count = -7;
  const auto start = std::chrono::steady_clock::now();
  testing::internal::CaptureStderr();
  const Result read = source->read(block, sizeof block, &count);
  testing::internal::GetCapturedStderr();
  const auto end = std::chrono::steady_clock::now();
  EXPECT_FALSE(server.finished());
  server.release();
  source.reset();
  EXPECT_EQ(read, kResultNetwork);
  EXPECT_EQ(count, -1);
  EXPECT_LT(test_clock::msBetween(start, end), test_clock::boundMs(1000));
}

}  // namespace
