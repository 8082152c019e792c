#include "tests/loopback_server.h"

#include <algorithm>
#include <chrono>

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

Clock::time_point deadlineIn(int timeoutMs) {
  return Clock::now() + std::chrono::milliseconds(timeoutMs);
}

// Accepts one connection on `listener` before `deadline`, giving up early
// once `released` is set. kNoSocket when none arrived.
SocketHandle acceptBefore(SocketHandle listener, Clock::time_point deadline,
                          const std::atomic<bool>& released) {
  SocketHandle connection = kNoSocket;
  while (connection == kNoSocket && !released.load() && msLeft(deadline) > 0) {
    if (socketWait(listener, Readiness::kReadable,
                   std::min(kSliceMs, msLeft(deadline)))) {
      connection = socketAccept(listener);
    }
  }
  return connection;
}

// For Peers that no LoopbackServer releases.
const std::atomic<bool> kNeverReleased{false};

}  // namespace

const char* hostOf(Family family) {
  return family == Family::kIpv6 ? "::1" : "127.0.0.1";
}

Peer::Peer(SocketHandle socket, const std::atomic<bool>& released)
    : socket_(socket), released_(released) {}

Peer::~Peer() { close(); }

bool Peer::send(const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const long result =
        socketSend(socket_, bytes.data() + sent, bytes.size() - sent, false);
    if (result <= 0) return false;
    sent += static_cast<size_t>(result);
  }
  return true;
}

bool Peer::sendUrgent(char byte) {
  return socketSend(socket_, &byte, 1, true) == 1;
}

std::string Peer::receive(size_t count, int timeoutMs) {
  std::string received;
  const Clock::time_point deadline = deadlineIn(timeoutMs);
  char buffer[4096];
  while (socket_ != kNoSocket && received.size() < count) {
    if (!socketWait(socket_, Readiness::kReadable, msLeft(deadline))) break;
    const size_t want = std::min(sizeof(buffer), count - received.size());
    const long got = socketReceive(socket_, buffer, want, false);
    if (got <= 0) break;
    received.append(buffer, static_cast<size_t>(got));
  }
  return received;
}

std::string Peer::receiveUntilClosed(int timeoutMs) {
  return receive(static_cast<size_t>(-1), timeoutMs);
}

bool Peer::stall(int timeoutMs) {
  const Clock::time_point deadline = deadlineIn(timeoutMs);
  while (socket_ != kNoSocket && !released_.load() && msLeft(deadline) > 0) {
    if (!socketWait(socket_, Readiness::kReadable,
                    std::min(kSliceMs, msLeft(deadline)))) {
      continue;
    }
    char byte = 0;
    if (socketReceive(socket_, &byte, 1, true) <= 0) return true;
    // The client sent something: not expected while stalled, but it must
    // not make the wait spin; take it.
    if (socketReceive(socket_, &byte, 1, false) <= 0) return true;
  }
  return false;
}

void Peer::finishSending() {
  if (socket_ != kNoSocket) socketShutdownSending(socket_);
}

void Peer::close() {
  if (socket_ == kNoSocket) return;
  socketShutdownSending(socket_);
  socketClose(socket_, false);
  socket_ = kNoSocket;
}

void Peer::reset() {
  if (socket_ == kNoSocket) return;
  socketClose(socket_, true);
  socket_ = kNoSocket;
}

LoopbackServer::LoopbackServer(Family family, Script script,
                               int acceptTimeoutMs)
    : family_(family) {
  listener_ = socketListen(family, 4, &port_);
  if (listener_ == kNoSocket) {
    port_ = 0;
    return;
  }
  thread_ = std::thread(&LoopbackServer::serve, this, std::move(script),
                        acceptTimeoutMs);
}

LoopbackServer::~LoopbackServer() {
  release();
  join();
  socketClose(listener_, false);
}

void LoopbackServer::join() {
  if (thread_.joinable()) thread_.join();
}

void LoopbackServer::serve(Script script, int acceptTimeoutMs) {
  const SocketHandle connection =
      acceptBefore(listener_, deadlineIn(acceptTimeoutMs), released_);
  if (connection != kNoSocket) {
    accepted_.store(true);
    Peer peer(connection, released_);
    script(peer);
  }
  finished_.store(true);
}

UnansweredListener::UnansweredListener() {
  listener_ = socketListen(Family::kIpv4, 0, &port_);
  if (listener_ == kNoSocket) return;
  // Connect until one connect stays unanswered: the queue is then full.
  // A connect that fails instead shows as writable and ends the attempt.
  for (int i = 0; i < 16 && !ready_; ++i) {
    const SocketHandle filler = socketConnectPending(port_);
    if (filler == kNoSocket) return;
    fillers_.push_back(filler);
    ready_ = !socketWait(filler, Readiness::kWritable, 300);
  }
}

int UnansweredListener::pendingConnects() const {
  return socketPendingConnects(port_);
}

UnansweredListener::~UnansweredListener() {
  for (SocketHandle filler : fillers_) socketClose(filler, false);
  socketClose(listener_, false);
}

std::unique_ptr<Peer> acceptClient(const std::function<bool(int port)>& connect,
                                   int acceptTimeoutMs) {
  int port = 0;
  const SocketHandle listener = socketListen(Family::kIpv4, 1, &port);
  if (listener == kNoSocket) return nullptr;
  std::unique_ptr<Peer> peer;
  if (connect(port)) {
    const SocketHandle connection =
        acceptBefore(listener, deadlineIn(acceptTimeoutMs), kNeverReleased);
    if (connection != kNoSocket) {
      peer = std::make_unique<Peer>(connection, kNeverReleased);
    }
  }
  socketClose(listener, false);
  return peer;
}

bool resetReachesClient() {
  static const bool reaches = [] {
    int port = 0;
    const SocketHandle listener = socketListen(Family::kIpv4, 1, &port);
    const SocketHandle client =
        listener != kNoSocket ? socketConnectPending(port) : kNoSocket;
    bool failed = false;
    if (client != kNoSocket &&
        socketWait(listener, Readiness::kReadable, 1000)) {
      socketClose(socketAccept(listener), true);
      char byte = 0;
      failed = socketWait(client, Readiness::kReadable, 1000) &&
               socketReceive(client, &byte, 1, false) < 0;
    }
    socketClose(client, false);
    socketClose(listener, false);
    return failed;
  }();
  return reaches;
}

std::string dualStackLoopbackName() {
  const char* name = "localhost";
  if (socketFirstAddress(name, Family::kIpv6) == "::1" &&
      socketFirstAddress(name, Family::kIpv4) == "127.0.0.1") {
    return name;
  }
  return "";
}

}  // namespace loopback
