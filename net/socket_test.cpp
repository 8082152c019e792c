#include "net/socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "net/socket_posix.h"
#include "tests/loopback_server.h"

namespace {

using Clock = std::chrono::steady_clock;
using loopback::Family;
using loopback::LoopbackServer;
using loopback::Peer;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start)
      .count();
}

// A NetSocket on one end of a stream socketpair; the test plays the peer on
// the other end.
struct SocketPair {
  explicit SocketPair(const std::atomic<int32_t>* stop = nullptr) {
    int ends[2] = {-1, -1};
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0) {
      socket = netAdoptDescriptor(ends[0], stop);
      peer = ends[1];
    }
  }
  ~SocketPair() {
    netDestroy(socket);
    closePeer();
  }
  void send(const std::string& bytes) const {
    ASSERT_EQ(::send(peer, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  void closePeer() {
    if (peer >= 0) ::close(peer);
    peer = -1;
  }
  // What the socket sent, without waiting.
  std::string sentByClient() const {
    std::string sent;
    char buffer[256];
    ssize_t got = 0;
    while ((got = recv(peer, buffer, sizeof(buffer), MSG_DONTWAIT)) > 0) {
      sent.append(buffer, static_cast<size_t>(got));
    }
    return sent;
  }
  NetSocket* socket = nullptr;
  int peer = -1;
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
  EXPECT_LT(msSince(start), 1000);
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

// A vanished peer must not raise SIGPIPE (which would end this test
// binary): the send fails with one console message.
TEST(NetSend, VanishedPeerFailsWithAMessage) {
  std::atomic<bool> reset{false};
  LoopbackServer server(Family::kIpv6, [&](Peer& peer) {
    // After the client's connect has seen the connection: a reset that
    // arrives first fails the connect itself.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    peer.reset();
    reset.store(true);
  });
  ASSERT_TRUE(server.listening());
  NetSocket* socket = netConnect(server.host(), server.port());
  ASSERT_NE(socket, nullptr);
  server.join();
  ASSERT_TRUE(reset.load());
  // The reset makes the socket readable once it has arrived.
  ASSERT_EQ(netWait(socket, 5000), 1);
  const uint8_t name[] = {'s', 'a', 'l', 'e', 's'};
  testing::internal::CaptureStderr();
  const int32_t first = netSend(socket, name, 5);
  const int32_t second = netSend(socket, name, 5);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(first, kNetFailed);
  EXPECT_EQ(second, kNetFailed);

  sockaddr_in6 peer{};
  peer.sin6_family = AF_INET6;
  peer.sin6_addr = in6addr_loopback;
  peer.sin6_port = htons(static_cast<uint16_t>(server.port()));
  char host[1024];
  char service[128];
  ASSERT_EQ(getnameinfo(reinterpret_cast<sockaddr*>(&peer), sizeof(peer), host,
                        sizeof(host), service, sizeof(service), 0),
            0);
  const std::string tail =
      std::string(") while sending to ") + host + "/" + service + "\n";
  // The first failure reports the reset, the second the broken pipe.
  EXPECT_EQ(
      err,
      "send failed, returned -1 (errno=" + std::to_string(ECONNRESET) + tail +
          "send failed, returned -1 (errno=" + std::to_string(EPIPE) + tail);
  netDestroy(socket);
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
    EXPECT_LT(tookMs, 5000);
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
  const int wrapped = 70000 & 0xFFFF;
  const int listener = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  address.sin6_port = htons(static_cast<uint16_t>(wrapped));
  const bool listening = bind(listener, reinterpret_cast<sockaddr*>(&address),
                              sizeof(address)) == 0 &&
                         listen(listener, 4) == 0;
  for (const int32_t port : {70000, 0, -1, 65536, -65536 + 4464}) {
    SCOPED_TRACE(port);
    EXPECT_EQ(netConnect("::1", port), nullptr);
  }
  if (listening) {
    // Nothing reached the port the value would wrap to.
    pollfd entry{listener, POLLIN, 0};
    EXPECT_EQ(poll(&entry, 1, 100), 0);
  }
  ::close(listener);
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
  EXPECT_LT(tookMs, 1300);
  netDestroy(socket);
}

// A resolver that answers only when released (or after 5 s).
std::atomic<bool> lookupReleased{false};
std::atomic<int> lookupsDone{0};
int slowLookup(const char* host, const char* service, const addrinfo* hints,
               addrinfo** results) {
  for (int i = 0; i < 500 && !lookupReleased.load(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const int code = getaddrinfo(host, service, hints, results);
  ++lookupsDone;
  return code;
}

TEST(NetConnect, GivesUpWhenTheStopFlagIsSetDuringTheLookUp) {
  lookupReleased.store(false);
  lookupsDone.store(0);
  netSetLookup(slowLookup);
  std::atomic<int32_t> stop{0};
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop.store(1);
  });
  const Clock::time_point start = Clock::now();
  testing::internal::CaptureStderr();
  NetSocket* socket = netConnect("127.0.0.1", 9, &stop);
  const double tookMs = msSince(start);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  stopper.join();
  EXPECT_EQ(socket, nullptr);
  EXPECT_LT(tookMs, 700);
  EXPECT_EQ(netLiveSocketCount(), 0);
  // The abandoned look-up finishes on its own and frees its result (the
  // leak checker sees it otherwise).
  lookupReleased.store(true);
  for (int i = 0; i < 500 && lookupsDone.load() == 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(lookupsDone.load(), 1);
  netSetLookup(nullptr);
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
