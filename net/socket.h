// NetSocket: the support library's thin TCP client. It connects to a host
// and port, waits for readability, receives raw bytes or whole text lines,
// sends, and closes. Every live NetSocket is kept in one process-wide
// registry.
//
// Connecting tries the system resolver first (an IPv6 look-up that maps
// IPv4 addresses, on a dual-stack socket, so IPv6 and IPv4 peers are
// reached), then a plain IPv4 look-up; of each look-up only the first
// address is tried.
//
// A socket may be given a stop flag when it is connected. While the flag is
// 0 the calls behave as plain blocking calls; once it becomes nonzero a
// pending name look-up, connect, line read or send gives up within about
// 100 ms with kNetStopped (netConnect: nullptr). This lets an operator's stop
// end a run while the peer does not answer or stalls in the middle of a line.
//
// Thread-safety: the registry is guarded by its own lock; everything else
// about one NetSocket belongs to one thread, with one exception: netClose
// may be called from another thread while the owner is inside netWait,
// netWaitReadable, netReceive or netReadLine on the same socket. It makes
// that call return promptly. The record and its descriptor stay valid until
// the owner calls netDestroy, so a pending call never meets a freed record
// or a descriptor number that the system has handed out again.
#pragma once

#include <atomic>
#include <cstdint>

#include "net/net_status.h"
#include "support/reporter.h"

struct NetSocket;

// Results shared by the operations below. Success is 0 or positive (a
// count or a readiness); a source translates them in one place.
using NetResult = int32_t;
// No socket, or a socket that has been closed (also: an invalid argument).
constexpr NetResult kNetNoSocket = -1;
// A receive or send failed; the system's error code went to the console
// message (send) or is lost (receive), as the callers need no more.
constexpr NetResult kNetFailed = -1;
// netWait: the readiness wait itself failed.
constexpr NetResult kNetWaitFailed = -2;
// netWait: urgent (out-of-band) data is pending, not ordinary bytes.
constexpr NetResult kNetWaitExceptional = -3;
// netWait: the wait reported the socket but not as readable.
constexpr NetResult kNetWaitNotReadable = -4;
// The stop flag became nonzero during a connect, line read or send.
constexpr NetResult kNetStopped = -10;
// netReadLine: the peer closed the connection before any byte of the line.
constexpr NetResult kNetLineClosed = 0x10000;

// The line reader's capacity: a refill receives at most this many bytes.
constexpr int32_t kNetLineReaderBytes = 128;

// Creates a TCP socket bound to 0.0.0.0 port 0 with SO_REUSEADDR and
// TCP_NODELAY set. Returns nullptr on failure; a refused option reports
// "setsockopt failed, error=%d", a refused bind "bind failed with %d" (both
// with the system's error code) to `reporter` (null: the console); a failed
// socket() reports nothing.
NetSocket* netCreate4(Reporter* reporter = nullptr);

// As netCreate4 for a dual-stack IPv6 socket (IPV6_V6ONLY cleared) bound to
// [::] port 0, so that it also reaches IPv4 peers.
NetSocket* netCreate6(Reporter* reporter = nullptr);

// Connects to `host` (a name or a numeric address) at `port`. First the
// resolver path: an IPv6 look-up with IPv4 names and literals mapped
// (AI_V4MAPPED) and a connect of a dual-stack socket to its first address;
// a failed look-up reports "error %d: %s" with the resolver's code and
// text. When that path yields no connection,
// the IPv4 path: an IPv4 look-up and a connect to its first address,
// silently. Returns the connected socket, or nullptr: also at once when
// `host` is null or `port` lies outside 1..65535 (it is never wrapped to
// 16 bits), and when `stop` became nonzero while looking up or connecting
// (a look-up is then left to finish on its own thread).
// `stop` (may be null) is kept by the socket; see the header comment.
// Lines go to `reporter` (null: the console), which the socket keeps for
// its later lines. On failure *status (may be null) tells why: the
// resolver path's reason, or the IPv4 path's when the first path made no
// look-up; kStopped after a stop.
// REQUIRES: *stop and *reporter outlive the socket.
[[nodiscard]] NetSocket* netConnect(const char* host, int32_t port,
                                    const std::atomic<int32_t>* stop = nullptr,
                                    Reporter* reporter = nullptr,
                                    NetStatus* status = nullptr);

// Why the socket's last failed wait, receive or send failed (kNone while
// none failed; kUrgent after netWait found urgent data; kStopped after a
// stop); phase kConnecting, which the caller replaces.
NetStatus netSocketStatus(const NetSocket* socket);

// Waits at most `timeoutMs` for the socket to become readable (bytes, the
// peer's close, or an error to collect). Returns 1 readable; 0 time-out or
// interrupted by a signal; kNetNoSocket; kNetWaitFailed (also for a negative
// time-out); kNetWaitExceptional; kNetWaitNotReadable.
[[nodiscard]] NetResult netWait(NetSocket* socket, int32_t timeoutMs);

// As netWait, but returns 1 at once when the line reader still holds bytes
// that no read has taken yet.
[[nodiscard]] NetResult netWaitReadable(NetSocket* socket, int32_t timeoutMs);

// Stores up to `size` bytes in `buffer`: bytes left in the line reader
// first (without touching the connection), else what one receive delivers.
// Returns the number stored, 0 when the peer closed the connection,
// kNetNoSocket (also for size <= 0 or a null buffer) or kNetFailed.
[[nodiscard]] NetResult netReceive(NetSocket* socket, uint8_t* buffer,
                                   int32_t size);

// Reads one line, its line feed included, into `buffer` and terminates it
// with a zero byte. Returns its length: at most size - 1; a longer line
// arrives in pieces of size - 1 over several calls. When the peer closes
// the connection, the characters read so far count as the line, and
// kNetLineClosed is returned when there were none. Failures: kNetNoSocket
// (also for size <= 0 or a null buffer, which store nothing), a receive
// failure (kNetFailed), kNetStopped. Bytes received beyond the line stay in
// the line reader for the next netReceive or netReadLine.
[[nodiscard]] NetResult netReadLine(char* buffer, int32_t size,
                                    NetSocket* socket);

// Sends all `length` bytes (0 or less: returns 0 without sending). A
// vanished peer never raises a signal. Returns the number sent, kNetNoSocket,
// kNetStopped, or kNetFailed after reporting "send failed, returned %d
// (errno=%d) while sending to %s/%s" with the failing call's result,
// the system's error code, and the peer's host and service.
[[nodiscard]] NetResult netSend(NetSocket* socket, const uint8_t* bytes,
                                int32_t length);

// Ends the connection in both directions and marks the socket closed:
// every later operation but netDestroy returns kNetNoSocket, and a call
// pending on another thread returns promptly. Keeps the record and its
// descriptor. Null or a second call: nothing. Callable from any thread.
void netClose(NetSocket* socket);

// Closes the socket, releases its descriptor, removes it from the registry
// and frees it. Null: nothing.
// REQUIRES: no other thread uses the socket any more.
void netDestroy(NetSocket* socket);

// The number of NetSockets in the registry: created and not yet destroyed.
int32_t netLiveSocketCount();
