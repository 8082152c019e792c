#include "net/socket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/loopback_server.h"
#include "tests/test_clock.h"

namespace {

using Clock = std::chrono::steady_clock;
using loopback::Family;
using loopback::LoopbackServer;
using loopback::Peer;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start)
      .count();
}

// A NetSocket connected over 127.0.0.1; the test plays the peer on its own
// thread through the server's end.
struct SocketPair {
  explicit SocketPair(const std::atomic<int32_t>* stop = nullptr) {
    peer = loopback::acceptClient([&](int port) {
      socket = netConnect("127.0.0.1", port, stop);
      return socket != nullptr;
    });
    if (peer == nullptr) {
      netDestroy(socket);
      socket = nullptr;
    }
  }
  ~SocketPair() { netDestroy(socket); }
  void send(const std::string& bytes) const { ASSERT_TRUE(peer->send(bytes)); }
  void closePeer() { peer.reset(); }
  // What the socket sent, as far as it arrived within a moment.
  std::string sentByClient() const { return peer->receiveUntilClosed(100); }
  NetSocket* socket = nullptr;
  std::unique_ptr<Peer> peer;
};

std::string receiveAll(NetSocket* socket) {
  std::string all;
  uint8_t buffer[300];
  int32_t got = 0;
  while ((got = netReceive(socket, buffer, sizeof(buffer))) > 0) {
    all.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(got));
  }
  return all;
}

struct LineCase {
  const char* name;
  std::string stream;  // what the peer sends before closing
  int32_t bufferSize;
  std::vector<int32_t> results;  // of the successive netReadLine calls
  std::vector<std::string> lines;
};

TEST(NetReadLine, SplitsTheStreamIntoLines) {
  const std::string longLine(1500, 'x');
  const LineCase cases[] = {
      {"two lines",
       "queue1\r\n[End]\r\n",
       1024,
       {8, 7, kNetLineClosed},
       {"queue1\r\n", "[End]\r\n", ""}},
      {"closed after two characters",
       "ab",
       1024,
       {2, kNetLineClosed},
       {"ab", ""}},
      {"closed at once", "", 1024, {kNetLineClosed}, {""}},
      {"line longer than the buffer",
       longLine + "\n",
       1024,
       {1023, 478, kNetLineClosed},
       {longLine.substr(0, 1023), longLine.substr(1023) + "\n", ""}},
      {"line of exactly the room",
       "abc\n",
       4,
       {3, 1, kNetLineClosed},
       {"abc", "\n", ""}},
      {"buffer of one byte holds only the terminator",
       "abc\n",
       1,
       {0, 0},
       {"", ""}},
      {"empty lines", "\n\n", 16, {1, 1, kNetLineClosed}, {"\n", "\n", ""}},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.name);
    SocketPair pair;
    ASSERT_NE(pair.socket, nullptr);
    pair.send(c.stream);
    pair.closePeer();
    for (size_t i = 0; i < c.results.size(); ++i) {
      std::vector<char> buffer(static_cast<size_t>(c.bufferSize) + 1, '#');
      EXPECT_EQ(netReadLine(buffer.data(), c.bufferSize, pair.socket),
                c.results[i])
          << "call " << i;
      EXPECT_EQ(std::string(buffer.data()), c.lines[i]) << "call " << i;
      EXPECT_EQ(buffer[static_cast<size_t>(c.bufferSize)], '#')
          << "wrote past the buffer";
    }
  }
}

TEST(NetReadLine, BytesAfterTheLineAreTheNextReceive) {
  SocketPair pair;
  ASSERT_NE(pair.socket, nullptr);
  pair.send(std::string("[End]\r\n") + "\xD5\x55\x2A");
  char line[1024];
  ASSERT_EQ(netReadLine(line, sizeof(line), pair.socket), 7);
  EXPECT_STREQ(line, "[End]\r\n");
  // The leftover counts as readable without touching the connection.
  EXPECT_EQ(netWaitReadable(pair.socket, 0), 1);
  EXPECT_EQ(netWait(pair.socket, 0), 0);
  uint8_t first[2];
  ASSERT_EQ(netReceive(pair.socket, first, 2), 2);
  EXPECT_EQ(first[0], 0xD5);
  EXPECT_EQ(first[1], 0x55);
  pair.send("next");
  pair.closePeer();
  EXPECT_EQ(receiveAll(pair.socket),
            "\x2A"
            "next");
}

TEST(NetReadLine, RefusesBuffersWithoutRoom) {
  SocketPair pair;
  ASSERT_NE(pair.socket, nullptr);
  char untouched = '#';
  EXPECT_EQ(netReadLine(&untouched, 0, pair.socket), kNetNoSocket);
  EXPECT_EQ(netReadLine(&untouched, -5, pair.socket), kNetNoSocket);
  EXPECT_EQ(untouched, '#');
  char line[8];
  EXPECT_EQ(netReadLine(line, sizeof(line), nullptr), kNetNoSocket);
}

TEST(NetReadLine, GivesUpWhenTheStopFlagIsSet) {
  std::atomic<int32_t> stop{0};
  SocketPair pair(&stop);
  ASSERT_NE(pair.socket, nullptr);
  pair.send("queue1\r\nsal");  // then the peer stalls mid-line
  char line[64];
  ASSERT_EQ(netReadLine(line, sizeof(line), pair.socket), 8);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    stop.store(1);
  });
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(netReadLine(line, sizeof(line), pair.socket), kNetStopped);
  EXPECT_LT(msSince(start), test_clock::boundMs(1000));
  stopper.join();
}

TEST(NetWait, ReportsEachOutcome) {
  SocketPair pair;
  ASSERT_NE(pair.socket, nullptr);
  EXPECT_EQ(netWait(nullptr, 0), kNetNoSocket);
  EXPECT_EQ(netWait(pair.socket, 0), 0);
  EXPECT_EQ(netWait(pair.socket, -1), kNetWaitFailed);
  pair.send("x");
  EXPECT_EQ(netWait(pair.socket, 1000), 1);
  uint8_t byte = 0;
  ASSERT_EQ(netReceive(pair.socket, &byte, 1), 1);
  pair.closePeer();
  // The peer's close is readable: the receive then reports it.
  EXPECT_EQ(netWait(pair.socket, 1000), 1);
  EXPECT_EQ(netReceive(pair.socket, &byte, 1), 0);
}

TEST(NetWait, UrgentDataIsTheExceptionalCondition) {
  LoopbackServer server(Family::kIpv6, [](Peer& peer) {
    peer.sendUrgent('u');
    peer.stall(5000);
  });
  ASSERT_TRUE(server.listening());
  NetSocket* socket = netConnect(server.host(), server.port());
  ASSERT_NE(socket, nullptr);
  EXPECT_EQ(netWait(socket, 5000), kNetWaitExceptional);
  netDestroy(socket);
}

// The time-out is honoured to the millisecond range: seconds and the rest.
TEST(NetWait, WaitsTheWholeTimeOut) {
  SocketPair pair;
  ASSERT_NE(pair.socket, nullptr);
  const Clock::time_point start = Clock::now();
  EXPECT_EQ(netWait(pair.socket, 1500), 0);
  const double waited = msSince(start);
  EXPECT_GE(waited, 1490);
  EXPECT_LT(waited, 2400);
}

TEST(NetSend, SendsEverythingAndNothingForZeroBytes) {
  SocketPair pair;
  ASSERT_NE(pair.socket, nullptr);
  const uint8_t bytes[] = {'s', 'a', 'l', 'e', 's'};
  EXPECT_EQ(netSend(pair.socket, bytes, 0), 0);
  EXPECT_EQ(netSend(pair.socket, nullptr, 0), 0);
  EXPECT_EQ(pair.sentByClient(), "");
  EXPECT_EQ(netSend(pair.socket, bytes, 5), 5);
  EXPECT_EQ(pair.sentByClient(), "sales");
  EXPECT_EQ(netSend(nullptr, bytes, 5), kNetNoSocket);
}

TEST(NetClose, WakesAPendingWaitAndReceiveOnAnotherThread) {
  for (const bool inReceive : {false, true}) {
    SCOPED_TRACE(inReceive ? "receive" : "wait");
    SocketPair pair;
    ASSERT_NE(pair.socket, nullptr);
    std::atomic<bool> entered{false};
    int32_t result = 99;
    double tookMs = 0;
    std::thread owner([&] {
      const Clock::time_point start = Clock::now();
      entered.store(true);
      uint8_t buffer[16];
      result = inReceive ? netReceive(pair.socket, buffer, sizeof(buffer))
                         : netWaitReadable(pair.socket, 20000);
      tookMs = msSince(start);
    });
    while (!entered.load()) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    netClose(pair.socket);
    netClose(pair.socket);  // a second close does nothing
    owner.join();
    EXPECT_LT(tookMs, test_clock::boundMs(5000));
    EXPECT_GE(result, 0);  // woken as readable / at the end of the stream
    // Everything after the close reports the closed socket.
    uint8_t byte = 0;
    char line[8];
    EXPECT_EQ(netWait(pair.socket, 0), kNetNoSocket);
    EXPECT_EQ(netWaitReadable(pair.socket, 0), kNetNoSocket);
    EXPECT_EQ(netReceive(pair.socket, &byte, 1), kNetNoSocket);
    EXPECT_EQ(netReadLine(line, sizeof(line), pair.socket), kNetNoSocket);
    EXPECT_EQ(netSend(pair.socket, &byte, 1), kNetNoSocket);
  }
}

// IPv4 literals and names of IPv4 addresses resolve as mapped addresses for
// the dual-stack socket: no resolver message on the way.
TEST(NetConnect, ReachesIpv4PeersSilently) {
  for (const char* host : {"127.0.0.1", "localhost"}) {
    SCOPED_TRACE(host);
    LoopbackServer server(Family::kIpv4, [](Peer& peer) { peer.send("hi"); });
    ASSERT_TRUE(server.listening());
    testing::internal::CaptureStderr();
    NetSocket* socket = netConnect(host, server.port());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_NE(socket, nullptr);
    EXPECT_EQ(receiveAll(socket), "hi");
    netDestroy(socket);
  }
}

TEST(NetConnect, ReachesIpv6PeersSilently) {
  LoopbackServer server(Family::kIpv6, [](Peer& peer) { peer.send("hi"); });
  ASSERT_TRUE(server.listening());
  testing::internal::CaptureStderr();
  NetSocket* socket = netConnect("::1", server.port());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_NE(socket, nullptr);
  EXPECT_EQ(receiveAll(socket), "hi");
  netDestroy(socket);
}

// A name whose IPv6 address has no listener: the first connect is refused
// and the IPv4 path reaches the server, silently.
TEST(NetConnect, FallsBackWhenTheIpv6AddressRefuses) {
  const std::string name = loopback::dualStackLoopbackName();
  if (name.empty()) {
    GTEST_SKIP() << "no name resolves to both ::1 and 127.0.0.1 here";
  }
  LoopbackServer server(Family::kIpv4, [](Peer& peer) { peer.send("hi"); });
  ASSERT_TRUE(server.listening());
  testing::internal::CaptureStderr();
  NetSocket* socket = netConnect(name.c_str(), server.port());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_NE(socket, nullptr);
  EXPECT_EQ(receiveAll(socket), "hi");
  netDestroy(socket);
}

TEST(NetConnect, RefusedConnectionPrintsNothing) {
  int port = 0;
  {
    LoopbackServer closed(
        Family::kIpv6, [](Peer&) {}, 0);
    ASSERT_TRUE(closed.listening());
    port = closed.port();
  }
  testing::internal::CaptureStderr();
  EXPECT_EQ(netConnect("::1", port), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(netLiveSocketCount(), 0);
}

// 70000 must not be taken modulo 65536 (which is 4464).
TEST(NetConnect, RefusesPortsOutsideTheTcpRange) {
  int wrapped = 70000 & 0xFFFF;
  // Another program may hold the port; the check below then has no ear.
  const loopback::SocketHandle listener =
      loopback::socketListen(Family::kIpv6, 4, &wrapped);
  for (const int32_t port : {70000, 0, -1, 65536, -65536 + 4464}) {
    SCOPED_TRACE(port);
    EXPECT_EQ(netConnect("::1", port), nullptr);
  }
  if (listener != loopback::kNoSocket) {
    // Nothing reached the port the value would wrap to.
    EXPECT_FALSE(
        loopback::socketWait(listener, loopback::Readiness::kReadable, 100));
  }
  loopback::socketClose(listener, false);
  EXPECT_EQ(netConnect(nullptr, 20000), nullptr);
}

TEST(NetConnect, GivesUpWhenTheStopFlagIsSetWhileThePeerDoesNotAnswer) {
  loopback::UnansweredListener silent;
  if (!silent.ready()) GTEST_SKIP() << "cannot make a connect go unanswered";
  std::atomic<int32_t> stop{0};
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop.store(1);
  });
  const Clock::time_point start = Clock::now();
  testing::internal::CaptureStderr();  // the IPv6 look-up's message
  NetSocket* socket = netConnect("127.0.0.1", silent.port(), &stop);
  testing::internal::GetCapturedStderr();
  const double tookMs = msSince(start);
  stopper.join();
  EXPECT_EQ(socket, nullptr);
  EXPECT_GE(tookMs, 250);
  EXPECT_LT(tookMs, test_clock::boundMs(1300));
  netDestroy(socket);
}

TEST(NetRegistry, CountsLiveSocketsWhateverTheOrderOfRelease) {
  const int32_t before = netLiveSocketCount();
  NetSocket* a = netCreate4();
  NetSocket* b = netCreate6();
  NetSocket* c = netCreate4();
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(netLiveSocketCount(), before + 3);
  netDestroy(b);  // from the middle of the list
  EXPECT_EQ(netLiveSocketCount(), before + 2);
  netDestroy(c);  // the newest
  netDestroy(a);
  EXPECT_EQ(netLiveSocketCount(), before);
  netDestroy(nullptr);
  netClose(nullptr);
}

}  // namespace
