#include "tests/loopback_server.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>

namespace loopback {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kSliceMs = 20;

int msLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - Clock::now())
                        .count();
  return left > 0 ? static_cast<int>(left) : 0;
}

// Polls one descriptor for `events` for at most `timeoutMs`; true when
// ready.
bool pollFor(int descriptor, short events, int timeoutMs) {
  pollfd entry{descriptor, events, 0};
  for (;;) {
    const int ready = poll(&entry, 1, timeoutMs);
    if (ready >= 0) return ready > 0;
    if (errno != EINTR) return false;
  }
}

// Binds a TCP listener to the loopback address of `family` at a port the
// system picks. Returns the descriptor (-1 on failure) and the port.
int listenOnLoopback(Family family, int backlog, int* port) {
  const int domain = family == Family::kIpv6 ? AF_INET6 : AF_INET;
  const int listener = ::socket(domain, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) return -1;
  sockaddr_storage address{};
  socklen_t length = 0;
  if (family == Family::kIpv6) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
    v6->sin6_family = AF_INET6;
    v6->sin6_addr = in6addr_loopback;
    length = sizeof(*v6);
  } else {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
    v4->sin_family = AF_INET;
    v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    length = sizeof(*v4);
  }
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener, backlog) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) !=
          0) {
    ::close(listener);
    return -1;
  }
  *port = family == Family::kIpv6
              ? ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port)
              : ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
  return listener;
}

}  // namespace

const char* hostOf(Family family) {
  return family == Family::kIpv6 ? "::1" : "127.0.0.1";
}

Peer::Peer(int descriptor, const std::atomic<bool>& released)
    : descriptor_(descriptor), released_(released) {}

Peer::~Peer() { close(); }

bool Peer::send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t result = ::send(descriptor_, bytes.data() + sent,
                                  bytes.size() - sent, MSG_NOSIGNAL);
    if (result < 0 && errno == EINTR) continue;
    if (result <= 0) return false;
    sent += static_cast<size_t>(result);
  }
  return true;
}

bool Peer::sendUrgent(char byte) {
  return ::send(descriptor_, &byte, 1, MSG_OOB | MSG_NOSIGNAL) == 1;
}

std::string Peer::receive(size_t count, int timeoutMs) {
  std::string received;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(timeoutMs);
  char buffer[4096];
  while (descriptor_ >= 0 && received.size() < count) {
    if (!pollFor(descriptor_, POLLIN, msLeft(deadline))) break;
    const size_t want = std::min(sizeof(buffer), count - received.size());
    const ssize_t got = recv(descriptor_, buffer, want, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    received.append(buffer, static_cast<size_t>(got));
  }
  return received;
}

std::string Peer::receiveUntilClosed(int timeoutMs) {
  return receive(static_cast<size_t>(-1), timeoutMs);
}

bool Peer::stall(int timeoutMs) {
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (descriptor_ >= 0 && !released_.load() && msLeft(deadline) > 0) {
    if (!pollFor(descriptor_, POLLIN, std::min(kSliceMs, msLeft(deadline)))) {
      continue;
    }
    char byte = 0;
    const ssize_t got = recv(descriptor_, &byte, 1, MSG_PEEK);
    if (got <= 0) return true;
    // The client sent something: not expected while stalled, but it must
    // not make the wait spin; take it.
    if (recv(descriptor_, &byte, 1, 0) <= 0) return true;
  }
  return false;
}

void Peer::finishSending() {
  if (descriptor_ >= 0) shutdown(descriptor_, SHUT_WR);
}

void Peer::close() {
  if (descriptor_ < 0) return;
  shutdown(descriptor_, SHUT_WR);
  ::close(descriptor_);
  descriptor_ = -1;
}

void Peer::reset() {
  if (descriptor_ < 0) return;
  const linger abort{1, 0};
  setsockopt(descriptor_, SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
  ::close(descriptor_);
  descriptor_ = -1;
}

LoopbackServer::LoopbackServer(Family family, Script script,
                               int acceptTimeoutMs)
    : family_(family) {
  listener_ = listenOnLoopback(family, 4, &port_);
  if (listener_ < 0) {
    port_ = 0;
    return;
  }
  thread_ = std::thread(&LoopbackServer::serve, this, std::move(script),
                        acceptTimeoutMs);
}

LoopbackServer::~LoopbackServer() {
  release();
  join();
  if (listener_ >= 0) ::close(listener_);
}

void LoopbackServer::join() {
  if (thread_.joinable()) thread_.join();
}

void LoopbackServer::serve(Script script, int acceptTimeoutMs) {
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(acceptTimeoutMs);
  int connection = -1;
  while (connection < 0 && !released_.load() && msLeft(deadline) > 0) {
    if (!pollFor(listener_, POLLIN, std::min(kSliceMs, msLeft(deadline)))) {
      continue;
    }
    connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  }
  if (connection >= 0) {
    accepted_.store(true);
    Peer peer(connection, released_);
    script(peer);
  }
  finished_.store(true);
}

UnansweredListener::UnansweredListener() {
  listener_ = listenOnLoopback(Family::kIpv4, 0, &port_);
  if (listener_ < 0) return;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port_));
  // Connect until one connect stays unanswered: the queue is then full.
  for (int i = 0; i < 16 && !ready_; ++i) {
    const int filler =
        ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (filler < 0) return;
    fillers_.push_back(filler);
    if (connect(filler, reinterpret_cast<sockaddr*>(&address),
                sizeof(address)) == 0) {
      continue;
    }
    if (errno != EINPROGRESS) return;
    ready_ = !pollFor(filler, POLLOUT, 300);
  }
}

int UnansweredListener::pendingConnects() const {
  // Each line of the kernel's table: "sl local rem st ...", addresses as
  // HEX:PORT, state 02 for a connect waiting for its answer.
  int pending = 0;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream lines(table);
    std::string line;
    std::getline(lines, line);  // the heading
    while (std::getline(lines, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      fields >> slot >> local >> remote >> state;
      const size_t colon = remote.rfind(':');
      if (state == "02" && colon != std::string::npos &&
          std::stoi(remote.substr(colon + 1), nullptr, 16) == port_) {
        ++pending;
      }
    }
  }
  return pending;
}

UnansweredListener::~UnansweredListener() {
  for (int filler : fillers_) ::close(filler);
  if (listener_ >= 0) ::close(listener_);
}

std::string dualStackLoopbackName() {
  const char* name = "localhost";
  auto firstAddress = [&](int family) -> std::string {
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* results = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &results) != 0) return "";
    char text[INET6_ADDRSTRLEN] = "";
    const void* raw =
        family == AF_INET6
            ? static_cast<const void*>(
                  &reinterpret_cast<sockaddr_in6*>(results->ai_addr)->sin6_addr)
            : static_cast<const void*>(
                  &reinterpret_cast<sockaddr_in*>(results->ai_addr)->sin_addr);
    inet_ntop(family, raw, text, sizeof(text));
    freeaddrinfo(results);
    return text;
  };
  if (firstAddress(AF_INET6) == "::1" && firstAddress(AF_INET) == "127.0.0.1") {
    return name;
  }
  return "";
}

}  // namespace loopback
