#include "net/stream_source.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "codecs/g711.h"
#include "net/socket.h"
#include "tests/loopback_server.h"
#include "tests/test_clock.h"

namespace {

using Clock = std::chrono::steady_clock;
using loopback::Family;
using loopback::LoopbackServer;
using loopback::Peer;

constexpr InputMode kAlaw = InputMode::kAlaw;
constexpr InputMode kUlaw = InputMode::kUlaw;

std::string allBytes() {
  std::string bytes;
  for (int value = 0; value < 256; ++value) {
    bytes.push_back(static_cast<char>(value));
  }
  return bytes;
}

// Reads until the end of the input; fails the test on a read failure.
std::string readToEnd(AudioSource& source) {
  std::string all;
  uint8_t block[1024];
  for (int turns = 0; turns < 10000; ++turns) {
    const Result waited = source.wait(5000);
    if (waited <= 0) {
      ADD_FAILURE() << "wait returned " << waited;
      break;
    }
    int32_t count = -7;
    const Result read = source.read(block, sizeof(block), &count);
    EXPECT_EQ(read, kResultOk);
    if (read != kResultOk || count <= 0) break;
    all.append(reinterpret_cast<const char*>(block),
               static_cast<size_t>(count));
  }
  return all;
}

TEST(StreamSource, DeliversALawUnchangedAndULawConverted) {
  const std::string audio = allBytes();
  for (const InputMode mode : {kAlaw, kUlaw}) {
    SCOPED_TRACE(mode == kUlaw ? "u-law" : "A-law");
    std::string received;
    LoopbackServer server(Family::kIpv6, [&](Peer& peer) {
      peer.send("queue1\r\nsales\r\n[End]\r\n" + audio.substr(0, 10));
      received = peer.receive(7, 5000);
      peer.send(audio.substr(10));
    });
    ASSERT_TRUE(server.listening());
    auto source =
        openStreamSource(server.host(), server.port(), "sales", mode, nullptr);
    ASSERT_NE(source, nullptr);
    const std::string delivered = readToEnd(*source);
    server.join();
    EXPECT_EQ(received, "sales\r\n");
    std::string expected = audio;
    if (mode == kUlaw) {
      for (char& byte : expected) {
        byte = static_cast<char>(ulawToAlaw(static_cast<uint8_t>(byte)));
      }
      EXPECT_EQ(static_cast<uint8_t>(delivered.at(0xFF)), 0xD5);
    }
    EXPECT_EQ(delivered, expected);
    source.reset();
  }
}

// Reads smaller than what one receive brings hand out every byte once, in
// order, converted once.
TEST(StreamSource, SmallReadsDeliverEveryByteOnce) {
  std::string audio;
  for (int i = 0; i < 20; ++i) audio += allBytes();
  for (const InputMode mode : {kAlaw, kUlaw}) {
    SCOPED_TRACE(mode == kUlaw ? "u-law" : "A-law");
    LoopbackServer server(Family::kIpv6, [&](Peer& peer) {
      peer.send(audio);
      peer.stall(10000);
    });
    ASSERT_TRUE(server.listening());
    auto source =
        openStreamSource(server.host(), server.port(), nullptr, mode, nullptr);
    ASSERT_NE(source, nullptr);
    std::string delivered;
    uint8_t block[7];
    while (delivered.size() < audio.size()) {
      ASSERT_EQ(source->wait(5000), 1) << delivered.size();
      int32_t count = 0;
      ASSERT_EQ(source->read(block, sizeof(block), &count), kResultOk);
      ASSERT_GT(count, 0);
      ASSERT_LE(count, 7);
      delivered.append(reinterpret_cast<const char*>(block),
                       static_cast<size_t>(count));
    }
    std::string expected = audio;
    if (mode == kUlaw) {
      for (char& byte : expected) {
        byte = static_cast<char>(ulawToAlaw(static_cast<uint8_t>(byte)));
      }
    }
    EXPECT_EQ(delivered, expected);
    // Everything was handed out and the service sends nothing more.
    EXPECT_EQ(source->wait(0), 0);
    source.reset();
  }
}

TEST(StreamSource, WithoutQueueNameReadsAndSendsNothingBeforeTheAudio) {
  std::string received = "not run";
  LoopbackServer server(Family::kIpv6, [&](Peer& peer) {
    peer.send("[End]\r\nqueue1\r\n");
    peer.finishSending();
    received = peer.receiveUntilClosed(5000);
  });
  ASSERT_TRUE(server.listening());
  auto source =
      openStreamSource(server.host(), server.port(), nullptr, kAlaw, nullptr);
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(readToEnd(*source), "[End]\r\nqueue1\r\n");
  source.reset();
  server.join();
  EXPECT_EQ(received, "");
}

TEST(StreamSource, OpeningFails) {
  struct FailCase {
    const char* name;
    LoopbackServer::Script script;
    InputMode mode;
    int32_t portOffset;  // added to the server's port
  };
  const FailCase cases[] = {
      {"service closes before the end of the list",
       [](Peer& peer) { peer.send("queue1\r\n"); }, kAlaw, 0},
      {"service resets before the end of the list",
       [](Peer& peer) {
         peer.send("queue1\r\n");
         peer.reset();
       },
       kAlaw, 0},
      {"port beyond the range", [](Peer&) {}, kAlaw, 65536},
  };
  for (const FailCase& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackServer server(Family::kIpv6, c.script, 2000);
    ASSERT_TRUE(server.listening());
    EXPECT_EQ(openStreamSource(server.host(), server.port() + c.portOffset,
                               "sales", c.mode, nullptr),
              nullptr);
    EXPECT_EQ(netLiveSocketCount(), 0) << "the connection was not released";
  }
}

TEST(StreamSource, StopFlagEndsOpeningWhileTheServiceStalls) {
  std::atomic<int32_t> stop{0};
  LoopbackServer server(Family::kIpv6, [](Peer& peer) {
    peer.send("queue1\r\n");
    peer.stall(10000);
  });
  ASSERT_TRUE(server.listening());
  std::thread stopper([&] {
    for (int i = 0; i < 500 && !server.accepted(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    stop.store(1);
  });
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(
      openStreamSource(server.host(), server.port(), "sales", kAlaw, &stop),
      nullptr);
  const double tookMs =
      std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  stopper.join();
  EXPECT_LT(tookMs, test_clock::boundMs(2000));
}

// The stop thread closes the source while the main thread waits or
// receives on it: the pending call returns at once and later calls report
// the closed source.
TEST(StreamSource, CloseFromAnotherThreadEndsAPendingCall) {
  for (const bool inRead : {false, true}) {
    SCOPED_TRACE(inRead ? "read" : "wait");
    LoopbackServer server(Family::kIpv6, [](Peer& peer) { peer.stall(20000); });
    ASSERT_TRUE(server.listening());
    auto source =
        openStreamSource(server.host(), server.port(), nullptr, kAlaw, nullptr);
    ASSERT_NE(source, nullptr);
    std::atomic<bool> entered{false};
    double tookMs = 0;
    std::thread mainThread([&] {
      entered.store(true);
      const Clock::time_point start = Clock::now();
      uint8_t block[1024];
      int32_t count = 0;
      if (inRead) {
        source->read(block, sizeof(block), &count);
      } else {
        source->wait(20000);
      }
      tookMs = std::chrono::duration<double, std::milli>(Clock::now() - start)
                   .count();
    });
    while (!entered.load()) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(source->close(), kResultOk);
    mainThread.join();
    EXPECT_LT(tookMs, test_clock::boundMs(5000));
    EXPECT_FALSE(source->isOpen());
    EXPECT_EQ(source->close(), kResultOk);
    EXPECT_EQ(source->wait(0), kResultNotOpen);
    uint8_t block[4] = {1, 2, 3, 4};
    int32_t count = 0;
    EXPECT_EQ(source->read(block, sizeof(block), &count), kResultNotOpen);
    EXPECT_EQ(count, -1);
    EXPECT_EQ(block[0], 1);
    source.reset();
    EXPECT_EQ(netLiveSocketCount(), 0);
  }
}

TEST(StreamSource, PullCallbackReportsBytesEndAndFailure) {
  LoopbackServer server(Family::kIpv6, [](Peer& peer) { peer.send("abc"); });
  ASSERT_TRUE(server.listening());
  auto source =
      openStreamSource(server.host(), server.port(), nullptr, kAlaw, nullptr);
  ASSERT_NE(source, nullptr);
  server.join();
  uint8_t buffer[8];
  std::string pulled;
  int32_t got = 0;
  while ((got = source->pull(buffer, sizeof(buffer))) > 0) {
    pulled.append(reinterpret_cast<const char*>(buffer),
                  static_cast<size_t>(got));
  }
  EXPECT_EQ(pulled, "abc");
  EXPECT_EQ(got, 0);
  source->close();
  EXPECT_EQ(source->pull(buffer, sizeof(buffer)), kFramedPullFailed);
  source.reset();
}

// A receive failure during streaming is a network failure of the run.
TEST(StreamSource, ResetDuringStreamingIsANetworkFailure) {
  if (!loopback::resetReachesClient()) {
    GTEST_SKIP() << "an abortive close reaches the client as an orderly one";
  }
  // The reset waits until the source is open: a reset that overtakes the
  // connect's completion fails the open instead, which is not this case.
  std::atomic<bool> opened{false};
  LoopbackServer server(Family::kIpv6, [&opened](Peer& peer) {
    peer.send("abc");
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!opened.load() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    peer.reset();
  });
  ASSERT_TRUE(server.listening());
  auto source =
      openStreamSource(server.host(), server.port(), nullptr, kAlaw, nullptr);
  opened = true;
  ASSERT_NE(source, nullptr);
  server.join();
  uint8_t block[1024];
  Result read = kResultOk;
  int32_t count = 0;
  for (int turns = 0; turns < 10 && read == kResultOk; ++turns) {
    ASSERT_EQ(source->wait(5000), 1);
    read = source->read(block, sizeof(block), &count);
  }
  EXPECT_EQ(read, kResultNetwork);
  EXPECT_EQ(count, -1);
  source.reset();
}

}  // namespace
