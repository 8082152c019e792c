// The socket calls under the loopback test helpers, one file per platform
// (loopback_socket_posix.cpp, loopback_socket_win32.cpp), so that the
// helpers' own logic is written once. Every call is bounded or returns at
// once; none prints anything.
//
// On Windows the first call starts Windows Sockets for the rest of the
// process, independently of the product's own start-up and clean-up.
//
// Thread-safety: the calls keep no state of their own; one socket is used
// by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace loopback {

enum class Family { kIpv4, kIpv6 };

// A descriptor on POSIX, a SOCKET on Windows.
using SocketHandle = std::intptr_t;
constexpr SocketHandle kNoSocket = -1;

// Binds a TCP listener to the loopback address of `family` at `*port`, or
// at a port the system picks when it is 0, and listens with `backlog`.
// Returns the socket and stores the port, or kNoSocket.
SocketHandle socketListen(Family family, int backlog, int* port);

// Accepts one pending connection; kNoSocket when there is none or on
// failure. The result is a blocking socket.
SocketHandle socketAccept(SocketHandle listener);

// Starts a connect to 127.0.0.1 `port` on a non-blocking socket. Returns
// the socket (its connect completed or pending) or kNoSocket.
SocketHandle socketConnectPending(int port);

enum class Readiness { kReadable, kWritable };

// Waits at most `timeoutMs` (0: just looks) until the socket is ready as
// asked. True when it is; false on time-out or failure.
bool socketWait(SocketHandle socket, Readiness readiness, int timeoutMs);

// One send of up to `size` bytes (`urgent`: as out-of-band data), never
// raising a signal. Returns the number sent, or -1.
long socketSend(SocketHandle socket, const char* bytes, size_t size,
                bool urgent);

// One receive of up to `size` bytes (`peek`: leaves them queued). Returns
// the number received, 0 at the peer's close, or -1.
long socketReceive(SocketHandle socket, char* buffer, size_t size, bool peek);

// Ends this side's sending; receiving goes on.
void socketShutdownSending(SocketHandle socket);

// Releases the socket. `abortive`: the peer sees a reset, not an orderly
// close. kNoSocket: nothing.
void socketClose(SocketHandle socket, bool abortive);

// The number of connects to 127.0.0.1 `port` that wait for an answer, or
// -1 when this system does not tell.
int socketPendingConnects(int port);

// The first address that a look-up of `name` yields for `family`, as text,
// or "" when there is none.
std::string socketFirstAddress(const char* name, Family family);

}  // namespace loopback
