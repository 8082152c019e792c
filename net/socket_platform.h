// The system calls under NetSocket: net/socket.cpp decides what to call and
// when (waits with the stop flag, retries, statuses, messages); the platform
// files (socket_posix.cpp, socket_win32.cpp) make the calls and nothing else.
//
// Thread-safety: netOsShutdownAndWake may run on another thread while the
// socket's owner is inside netOsWait, netOsReceive or netOsSend; everything
// else about one NetOsSocket belongs to its owner.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

struct NetSocket;
// One open socket of the system, with what waking its owner needs.
struct NetOsSocket;

enum class NetFamily { kIpv4, kIpv6 };

// A socket address as the system stores it (room for any family).
struct NetAddress {
  alignas(8) unsigned char bytes[128] = {};
  int32_t length = 0;  // 0: none
};

// Starts the system's sockets for the process or a thread (false: failed)
// and undoes one successful start.
bool netOsStart();
void netOsStop();

// Opens a TCP socket of `family` that child processes do not inherit;
// null on any failure.
NetOsSocket* netOsOpen(NetFamily family);
// Sets SO_REUSEADDR and TCP_NODELAY, and for IPv6 clears IPV6_V6ONLY.
bool netOsSetOptions(NetOsSocket* socket, NetFamily family);
// Binds to the family's any-address, port 0.
bool netOsBindAny(NetOsSocket* socket, NetFamily family);
// Shuts the connection down both ways and wakes a pending netOsWait,
// netOsReceive or netOsSend of the owner. Keeps the socket.
void netOsShutdownAndWake(NetOsSocket* socket);
// Closes and frees the socket. Null: nothing.
void netOsRelease(NetOsSocket* socket);

// Enters (true) and leaves (false) the mode in which a connect does not
// block: around netOsStartConnect and the wait for its outcome.
bool netOsConnectMode(NetOsSocket* socket, bool connecting);
// Starts connecting to `peer`: 0 when connected at once, else the error
// code (one that netOsErrorClass does not call kFailed: in progress).
int netOsStartConnect(NetOsSocket* socket, const NetAddress& peer);
// The outcome of a connect whose wait found `found`: 0 connected, else the
// error code.
int netOsConnectError(NetOsSocket* socket, unsigned found);

// What a wait asks for and finds.
enum NetReadiness : unsigned {
  kNetReadable = 1,     // bytes, the peer's close or an error to collect
  kNetWritable = 2,     // room to send, or an error to collect
  kNetExceptional = 4,  // urgent data (and on some systems a failed connect)
};
// Waits at most `timeoutMs` (negative: no limit; the system may come back
// earlier) for one of `wanted`. Returns 1 with *found set, 0 when nothing
// was found, or -1 with netOsLastError telling why.
int netOsWait(NetOsSocket* socket, unsigned wanted, int32_t timeoutMs,
              unsigned* found);

// One receive: the count, 0 at the peer's close, -1 (netOsLastError).
int32_t netOsReceive(NetOsSocket* socket, uint8_t* buffer, int32_t size);
// One send, never raising a signal for a vanished peer: the count or -1.
// `dontWait`: the call must not block (a socket that never blocks ignores
// it).
int32_t netOsSend(NetOsSocket* socket, const uint8_t* bytes, int32_t length,
                  bool dontWait);

// The error code of the calling thread's last failed call.
int netOsLastError();

enum class NetErrorClass {
  kRetry,       // interrupted: call again
  kWouldBlock,  // a call that does not block found nothing to do yet
  kFailed,      // a real failure
};
NetErrorClass netOsErrorClass(int error);
// The system's text of an error code.
std::string netOsErrorText(int error);

// The codes that have a NetError of their own; kNetOsNoCode where the
// system has none.
constexpr int kNetOsNoCode = INT32_MIN;
struct NetOsCodes {
  // Errors of connections and transfers.
  int refused, timedOut, hostUnreachable, netUnreachable, reset, aborted,
      brokenPipe;
  // Results of the resolver; resolverSystem: the failure is in the system
  // error that came with it.
  int unknownHost, tryAgain, noAddress, resolverSystem;
};
extern const NetOsCodes kNetOsCodes;

// Resolves `host` with `service` (may be null) in `family` (kIpv6: IPv4
// names and literals come back as IPv4-mapped addresses) and stores the
// first address in *first. Returns the resolver's result (0: found); with
// it *systemError, the system's error code of the call.
int netOsResolve(const char* host, const char* service, NetFamily family,
                 NetAddress* first, int* systemError);
// The resolver's text of a result.
std::string netOsResolverText(int code);
// Sets the port of an IPv4 address.
void netOsSetPort(NetAddress* address, int32_t port);
// The numeric-or-named host and service of `address`; false on failure.
bool netOsAddressName(const NetAddress& address, char* host, size_t hostSize,
                      char* service, size_t serviceSize);

// Stores the system address of `length` bytes at `address` in *to (as much
// as it holds).
void netAddressCopy(NetAddress* to, const void* address, size_t length);

// For platform additions (net/socket_posix.h): makes a registered NetSocket
// of a connected `socket` with its `peer` and takes ownership of it
// (released on failure, when the result is null).
NetSocket* netSocketOfOs(NetOsSocket* socket, const NetAddress& peer,
                         const std::atomic<int32_t>* stop);
