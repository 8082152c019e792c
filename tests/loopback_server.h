// A loopback test server that plays the recording service's side of a
// connection: it listens on 127.0.0.1 or ::1 (never any other address) at a
// port the system picks, accepts one connection and runs a script on it on
// its own thread. Every blocking step is bounded, so a faulty client makes a
// test fail, never hang.
//
// Also: a listener whose backlog is full, so that a further connect to it
// gets no answer at all (its SYN is dropped), for tests of a stalled
// connect; and acceptClient, whose Peer the test itself plays.
//
// Thread-safety: the script runs on the server thread and is the only user
// of its Peer; accepted(), release() and the destructor may be called from
// the test thread. A Peer of acceptClient belongs to its caller's thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/loopback_socket.h"

namespace loopback {

// "127.0.0.1" or "::1".
const char* hostOf(Family family);

// The server's end of the accepted connection.
class Peer {
 public:
  // Takes ownership of `socket`.
  // REQUIRES: `released` outlives the Peer.
  Peer(SocketHandle socket, const std::atomic<bool>& released);
  ~Peer();
  Peer(const Peer&) = delete;
  Peer& operator=(const Peer&) = delete;

  // Sends all bytes (no signal when the client has gone). False on failure.
  bool send(const std::string& bytes);
  // Sends one byte of urgent (out-of-band) data.
  bool sendUrgent(char byte);
  // Receives until `count` bytes arrived, the client closed, or `timeoutMs`
  // passed; returns what arrived.
  std::string receive(size_t count, int timeoutMs);
  // Receives until the client closes or `timeoutMs` passes.
  std::string receiveUntilClosed(int timeoutMs);
  // Sends nothing and waits until the client closes (returns true), the
  // test calls LoopbackServer::release, or `timeoutMs` passes.
  bool stall(int timeoutMs);
  // Ends the server's sending (the client reads the end of the stream) but
  // keeps receiving.
  void finishSending();
  // Orderly close (the client reads the end of the stream).
  void close();
  // Abortive close: the client's next receive fails with a reset (where
  // resetReachesClient() holds).
  void reset();

 private:
  SocketHandle socket_;
  const std::atomic<bool>& released_;
};

class LoopbackServer {
 public:
  using Script = std::function<void(Peer&)>;

  // Starts listening and the server thread, which accepts one connection
  // (waiting at most `acceptTimeoutMs`) and runs `script` on it; the
  // connection is closed when the script returns.
  LoopbackServer(Family family, Script script, int acceptTimeoutMs = 20000);
  // Releases a stalled script and joins the thread.
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  bool listening() const { return port_ > 0; }
  int port() const { return port_; }
  std::string portText() const { return std::to_string(port_); }
  const char* host() const { return hostOf(family_); }
  // True once a connection was accepted (the script is running or done).
  bool accepted() const { return accepted_.load(); }
  // True once the script has returned.
  bool finished() const { return finished_.load(); }
  // Ends a Peer::stall of the script.
  void release() { released_.store(true); }
  // Waits for the script to end.
  void join();

 private:
  void serve(Script script, int acceptTimeoutMs);

  Family family_;
  SocketHandle listener_ = kNoSocket;
  int port_ = 0;
  std::atomic<bool> accepted_{false};
  std::atomic<bool> finished_{false};
  std::atomic<bool> released_{false};
  std::thread thread_;
};

// A listener on 127.0.0.1 that never accepts and whose queue is full: a
// further connect to its port gets no answer until it is destroyed.
class UnansweredListener {
 public:
  UnansweredListener();
  ~UnansweredListener();
  UnansweredListener(const UnansweredListener&) = delete;
  UnansweredListener& operator=(const UnansweredListener&) = delete;

  // False when the queue could not be filled on this system.
  bool ready() const { return ready_; }
  int port() const { return port_; }
  // The number of connects to the port that wait for an answer, this
  // listener's own filler included; -1 when the system does not tell.
  int pendingConnects() const;

 private:
  SocketHandle listener_ = kNoSocket;
  int port_ = 0;
  bool ready_ = false;
  std::vector<SocketHandle> fillers_;
};

// For a test that plays the service on its own thread: listens on
// 127.0.0.1, calls `connect` with the port and returns the server's end of
// the connection that it made. Null when `connect` returned false or no
// connection arrived within `acceptTimeoutMs`. The Peer's stall ends only
// by the client's close or its time-out.
std::unique_ptr<Peer> acceptClient(const std::function<bool(int port)>& connect,
                                   int acceptTimeoutMs = 5000);

// True when Peer::reset makes the client's next receive fail on this
// system. Wine closes every socket in order, whatever its linger option, so
// its client reads the end of the stream instead. Probed once.
bool resetReachesClient();

// A name that the system resolves to ::1 by an IPv6 look-up and to
// 127.0.0.1 by an IPv4 look-up, or "" when this system has none.
std::string dualStackLoopbackName();

}  // namespace loopback
