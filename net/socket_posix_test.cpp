// NetSocket cases that only POSIX systems have: the errno values of a
// vanished peer, and the resolver seam of socket_posix.h.
#include <errno.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "net/socket.h"
#include "net/socket_posix.h"
#include "tests/loopback_server.h"
#include "tests/test_clock.h"

namespace {

using Clock = std::chrono::steady_clock;
using loopback::Family;
using loopback::LoopbackServer;
using loopback::Peer;

// A vanished peer must not raise SIGPIPE (which would end this test
// binary): the send fails with one console message.
TEST(NetSend, VanishedPeerFailsWithAMessage) {
  std::atomic<bool> connected{false};
  std::atomic<bool> reset{false};
  LoopbackServer server(Family::kIpv6, [&](Peer& peer) {
    // After the client's connect has returned: a reset that arrives first
    // fails the connect itself.
    test_clock::waitUntil([&] { return connected.load(); });
    peer.reset();
    reset.store(true);
  });
  ASSERT_TRUE(server.listening());
  NetSocket* socket = netConnect(server.host(), server.port());
  connected.store(true);
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

// A resolver that answers only when released (or after 5 s).
std::atomic<bool> lookupReleased{false};
std::atomic<int> lookupsStarted{0};
std::atomic<int> lookupsDone{0};
int slowLookup(const char* host, const char* service, const addrinfo* hints,
               addrinfo** results) {
  ++lookupsStarted;
  test_clock::waitUntil([] { return lookupReleased.load(); }, 5000);
  const int code = getaddrinfo(host, service, hints, results);
  ++lookupsDone;
  return code;
}

TEST(NetConnect, GivesUpWhenTheStopFlagIsSetDuringTheLookUp) {
  lookupReleased.store(false);
  lookupsStarted.store(0);
  lookupsDone.store(0);
  netSetLookup(slowLookup);
  std::atomic<int32_t> stop{0};
  Clock::time_point stopped;
  std::thread stopper([&] {
    // The stop arrives while the look-up is under way.
    test_clock::waitUntil([] { return lookupsStarted.load() > 0; });
    stopped = Clock::now();
    stop.store(1);
  });
  testing::internal::CaptureStderr();
  NetSocket* socket = netConnect("127.0.0.1", 9, &stop);
  const Clock::time_point returned = Clock::now();
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  stopper.join();
  EXPECT_EQ(socket, nullptr);
  EXPECT_EQ(lookupsDone.load(), 0) << "the connect waited for the look-up";
  EXPECT_LT(test_clock::msBetween(stopped, returned), test_clock::boundMs(500));
  EXPECT_EQ(netLiveSocketCount(), 0);
  // The abandoned look-up finishes on its own and frees its result (the
  // leak checker sees it otherwise).
  lookupReleased.store(true);
  EXPECT_TRUE(test_clock::waitUntil([] { return lookupsDone.load() > 0; }));
  EXPECT_EQ(lookupsDone.load(), 1);
  netSetLookup(nullptr);
}

}  // namespace
