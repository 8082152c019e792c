// NetSocket on Windows Sockets against a loopback peer of the test's own.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "net/socket.h"

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start)
      .count();
}

// Accepts one connection on a loopback address and runs `script` on it.
class Peer {
 public:
  explicit Peer(std::function<void(SOCKET)> script, int family = AF_INET) {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    listener_ = socket(family, SOCK_STREAM, 0);
    sockaddr_storage address{};
    int length = 0;
    if (family == AF_INET6) {
      auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
      v6->sin6_family = AF_INET6;
      v6->sin6_addr = in6addr_loopback;
      length = sizeof(sockaddr_in6);
    } else {
      auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
      v4->sin_family = AF_INET;
      v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      length = sizeof(sockaddr_in);
    }
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 1) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address),
                    &length) != 0) {
      return;
    }
    port_ = ntohs(family == AF_INET6
                      ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                      : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    thread_ = std::thread([this, script] {
      const SOCKET peer = accept(listener_, nullptr, nullptr);
      if (peer == INVALID_SOCKET) return;
      script(peer);
      closesocket(peer);
    });
  }
  ~Peer() {
    closesocket(listener_);  // ends an accept that never came
    if (thread_.joinable()) thread_.join();
    if (started_) WSACleanup();
  }
  int port() const { return port_; }

  static void send(SOCKET peer, const std::string& bytes) {
    ::send(peer, bytes.data(), static_cast<int>(bytes.size()), 0);
  }
  // Receives until the client closes; returns what arrived.
  static std::string receiveUntilClosed(SOCKET peer) {
    std::string all;
    char buffer[256];
    int got = 0;
    while ((got = recv(peer, buffer, sizeof(buffer), 0)) > 0) {
      all.append(buffer, static_cast<size_t>(got));
    }
    return all;
  }

 private:
  bool started_ = false;
  SOCKET listener_ = INVALID_SOCKET;
  int port_ = 0;
  std::thread thread_;
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

TEST(NetWin32, ConnectsSilentlyToIpv4AndIpv6Peers) {
  const struct {
    const char* host;
    int family;
  } cases[] = {{"127.0.0.1", AF_INET}, {"localhost", AF_INET}, {"::1", AF_INET6}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.host);
    Peer peer([](SOCKET s) { Peer::send(s, "hi"); }, c.family);
    ASSERT_GT(peer.port(), 0);
    testing::internal::CaptureStderr();
    NetSocket* socket = netConnect(c.host, peer.port());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_NE(socket, nullptr);
    EXPECT_EQ(netLiveSocketCount(), 1);
    EXPECT_EQ(receiveAll(socket), "hi");
    netDestroy(socket);
    EXPECT_EQ(netLiveSocketCount(), 0);
  }
}

// A call pending on another thread returns promptly after netClose.
TEST(NetWin32, CloseWakesAPendingCallOnAnotherThread) {
  enum class Call { kWait, kReceive, kReadLineWithStop };
  const struct {
    Call call;
    int32_t expected;
  } cases[] = {{Call::kWait, 1}, {Call::kReceive, 0},
               {Call::kReadLineWithStop, kNetNoSocket}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.call));
    Peer peer([](SOCKET s) { Peer::receiveUntilClosed(s); });
    std::atomic<int32_t> stop{0};
    NetSocket* socket = netConnect(
        "127.0.0.1", peer.port(),
        c.call == Call::kReadLineWithStop ? &stop : nullptr);
    ASSERT_NE(socket, nullptr);
    int32_t result = 99;
    std::thread owner([&] {
      uint8_t buffer[16];
      char line[16];
      switch (c.call) {
        case Call::kWait:
          result = netWaitReadable(socket, 20000);
          break;
        case Call::kReceive:
          result = netReceive(socket, buffer, sizeof(buffer));
          break;
        case Call::kReadLineWithStop:
          result = netReadLine(line, sizeof(line), socket);
          break;
      }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const Clock::time_point closed = Clock::now();
    netClose(socket);
    netClose(socket);
    owner.join();
    EXPECT_LT(msSince(closed), 1000);
    EXPECT_EQ(result, c.expected);
    uint8_t byte = 0;
    EXPECT_EQ(netWait(socket, 0), kNetNoSocket);
    EXPECT_EQ(netReceive(socket, &byte, 1), kNetNoSocket);
    EXPECT_EQ(netSend(socket, &byte, 1), kNetNoSocket);
    netDestroy(socket);
  }
}

TEST(NetWin32, LineThenAudioAndAStoppedLineRead) {
  std::string received;
  Peer peer([&](SOCKET s) {
    char buffer[16] = {};
    const int got = recv(s, buffer, sizeof(buffer), 0);
    if (got > 0) received.assign(buffer, static_cast<size_t>(got));
    Peer::send(s, "[End]\r\nAUDIO");
    Peer::receiveUntilClosed(s);
  });
  std::atomic<int32_t> stop{0};
  NetSocket* socket = netConnect("127.0.0.1", peer.port(), &stop);
  ASSERT_NE(socket, nullptr);
  const uint8_t queue[] = "queue\r\n";
  EXPECT_EQ(netSend(socket, queue, 7), 7);
  char line[64];
  EXPECT_EQ(netReadLine(line, sizeof(line), socket), 7);
  EXPECT_STREQ(line, "[End]\r\n");
  uint8_t audio[16];
  EXPECT_EQ(netReceive(socket, audio, sizeof(audio)), 5);
  Clock::time_point start = Clock::now();
  EXPECT_EQ(netWait(socket, 300), 0);
  EXPECT_GE(msSince(start), 290);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    stop.store(1);
  });
  start = Clock::now();
  EXPECT_EQ(netReadLine(line, sizeof(line), socket), kNetStopped);
  EXPECT_LT(msSince(start), 1000);
  stopper.join();
  netDestroy(socket);
  EXPECT_EQ(received, "queue\r\n");
}

TEST(NetWin32, FailuresPrintTheirMessagesAndLeaveNoSocket) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(netConnect("no-such-host.invalid", 80), nullptr);
  const std::string resolver = testing::internal::GetCapturedStderr();
  EXPECT_EQ(resolver.rfind("error 11001: ", 0), 0u) << resolver;
  EXPECT_EQ(resolver.find(" \r\n"), std::string::npos) << resolver;

  Peer peer([](SOCKET s) {
    const linger reset{1, 0};
    setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset),
               sizeof(reset));
  });
  NetSocket* socket = netConnect("127.0.0.1", peer.port());
  ASSERT_NE(socket, nullptr);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  static uint8_t bytes[1 << 16];
  testing::internal::CaptureStderr();
  int32_t sent = 0;
  for (int i = 0; i < 10 && sent >= 0; ++i) {
    sent = netSend(socket, bytes, sizeof(bytes));
  }
  const std::string failure = testing::internal::GetCapturedStderr();
  EXPECT_EQ(sent, kNetFailed);
  EXPECT_EQ(failure.rfind("send failed, returned -1 (errno=10054)", 0), 0u)
      << failure;
  netDestroy(socket);
  EXPECT_EQ(netLiveSocketCount(), 0);
}

}  // namespace
