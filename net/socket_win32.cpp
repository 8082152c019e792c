// NetSocket on Windows Sockets 2.2.
//
// Windows Sockets is started by the first registered socket and cleaned up
// when the last one is destroyed; a look-up thread that outlives its socket
// holds a start-up of its own.
//
// Every socket is in event-select mode (and so non-blocking): a wait polls
// the socket with a zero-time-out select and sleeps on two events, the
// socket's network event and a wake event that netClose sets. shutdown
// alone does not wake a pending select or recv on every implementation, the
// wake event does. Sleeps are cut into slices of kWaitSliceMs, so a stop
// flag is seen in time and a missed network event costs one slice at most.
//
// As on POSIX, netClose only shuts the connection down, marks the record
// closed and wakes the owner; the socket and the events are released by
// netDestroy, which the owner calls once it has left every call.
#include <winsock2.h>
#include <ws2tcpip.h>
// After the sockets headers, which stand in for its older winsock.h.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <system_error>
#include <thread>

#include "net/socket.h"
#include "net/socket_shared.h"
#include "support/crash_handler.h"
#include "support/debug_trace.h"
#include "support/mutex.h"

struct NetSocket {
  // Set at creation, released by netDestroy only; never change in between,
  // so a netClose on another thread never races with their readers.
  SOCKET handle = INVALID_SOCKET;
  WSAEVENT networkEvent = WSA_INVALID_EVENT;
  HANDLE wakeEvent = nullptr;  // manual reset; set by netClose
  std::atomic<bool> closed{false};
  const std::atomic<int32_t>* stop = nullptr;
  Reporter* reporter = nullptr;
  // The last failure of a wait, receive or send.
  NetStatus failure;

  sockaddr_storage local{};
  int32_t localLength = 0;
  sockaddr_storage peer{};
  int32_t peerLength = 0;

  NetLineReader lineReader;
  NetRegistryLinks links;
};

namespace {

// The longest single sleep of a wait; also how often a stop flag is read.
constexpr int32_t kWaitSliceMs = 100;
constexpr WORD kWinsockVersion = MAKEWORD(2, 2);

// --- Windows Sockets start-up ---------------------------------------------

// One WSAStartup, undone by the destructor when it succeeded.
class WinsockUse {
 public:
  WinsockUse() {
    WSADATA data;
    started_ = WSAStartup(kWinsockVersion, &data) == 0;
  }
  ~WinsockUse() {
    if (started_) WSACleanup();
  }
  WinsockUse(const WinsockUse&) = delete;
  WinsockUse& operator=(const WinsockUse&) = delete;
  bool started() const { return started_; }

 private:
  bool started_ = false;
};

// The first socket starts Windows Sockets, the last one cleans it up;
// both run under the registry's lock.
bool platformSocketsUsed() {
  WSADATA data;
  return WSAStartup(kWinsockVersion, &data) == 0;
}
void platformSocketsUnused() { WSACleanup(); }

// --- System errors --------------------------------------------------------

// The one place that decides what a failed Windows Sockets call means here.
enum class ErrorClass {
  kRetry,       // interrupted: call again
  kWouldBlock,  // the non-blocking socket has nothing to do yet
  kFailed,      // a real failure: the operation returns kNetFailed
};

ErrorClass classifyError(int error) {
  if (error == WSAEINTR) return ErrorClass::kRetry;
  if (error == WSAEWOULDBLOCK || error == WSAEINPROGRESS ||
      error == WSAEALREADY) {
    return ErrorClass::kWouldBlock;
  }
  return ErrorClass::kFailed;
}

// The system's text for an error or resolver code, on one line (the line
// break that ends it becomes a space, which is dropped).
std::string systemText(int code) {
  char text[1024] = "";
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
          FORMAT_MESSAGE_MAX_WIDTH_MASK,
      nullptr, static_cast<DWORD>(code),
      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof(text), nullptr);
  if (length >= sizeof(text)) length = 0;
  while (length > 0 && text[length - 1] == ' ') --length;
  return std::string(text, length);
}

// The reason of a Windows Sockets or resolver error code, in the same words
// as on Linux for the codes that have a value of their own.
NetStatus statusOfError(int error) {
  NetStatus status;
  switch (error) {
    case WSAECONNREFUSED:
      status.error = NetError::kRefused;
      break;
    case WSAETIMEDOUT:
      status.error = NetError::kTimedOut;
      break;
    case WSAEHOSTUNREACH:
      status.error = NetError::kHostUnreachable;
      break;
    case WSAENETUNREACH:
      status.error = NetError::kNetUnreachable;
      break;
    case WSAECONNRESET:
      status.error = NetError::kReset;
      break;
    case WSAECONNABORTED:
      status.error = NetError::kAborted;
      break;
    case WSAHOST_NOT_FOUND:  // also EAI_NONAME
      status.error = NetError::kUnknownHost;
      break;
    case WSATRY_AGAIN:  // also EAI_AGAIN
      status.error = NetError::kNameTryAgain;
      break;
    case WSANO_DATA:  // also EAI_NODATA
      status.error = NetError::kNoAddress;
      break;
    default:
      status.error = NetError::kSystem;
      status.systemText = systemText(error);
      break;
  }
  return status;
}

void recordFailure(NetSocket* socket, const NetStatus& status) {
  socket->failure = status;
}

// --- Helpers ----------------------------------------------------------------

bool usable(const NetSocket* socket) {
  return socket != nullptr && socket->handle != INVALID_SOCKET &&
         !socket->closed.load();
}

bool stopRequested(const NetSocket* socket) {
  return socket->stop != nullptr && socket->stop->load() != 0;
}

NetSocket* newRegisteredSocket() {
  NetSocket* socket = new (std::nothrow) NetSocket;
  if (socket != nullptr &&
      !netRegistryAdd(&socket->links, platformSocketsUsed)) {
    delete socket;
    return nullptr;
  }
  return socket;
}

// What a wait asks for, and what it found.
enum Readiness : unsigned {
  kReadable = 1,
  kWritable = 2,
  kExceptional = 4,  // urgent data, or a failed connect
};

// Waits until select reports the socket in one of the sets of `wanted`
// (stored in *found), for at most `timeoutMs` (negative: no limit).
// Returns 1 ready, 0 time-out, kNetNoSocket once the socket is closed,
// kNetStopped once the stop flag is nonzero (only with `watchStop`), or
// kNetWaitFailed.
NetResult waitFor(NetSocket* socket, unsigned wanted, int32_t timeoutMs,
                  bool watchStop, unsigned* found) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
  for (;;) {
    if (watchStop && stopRequested(socket)) {
      recordFailure(socket, netStatusOf(NetError::kStopped));
      return kNetStopped;
    }
    if (socket->closed.load()) return kNetNoSocket;
    // Clears the network event first: whatever happens after the select
    // below sets it again and ends the sleep.
    WSANETWORKEVENTS events;
    WSAEnumNetworkEvents(socket->handle, socket->networkEvent, &events);
    fd_set readSet;
    fd_set writeSet;
    fd_set exceptSet;
    FD_ZERO(&readSet);
    FD_ZERO(&writeSet);
    FD_ZERO(&exceptSet);
    if ((wanted & kReadable) != 0) FD_SET(socket->handle, &readSet);
    if ((wanted & kWritable) != 0) FD_SET(socket->handle, &writeSet);
    if ((wanted & kExceptional) != 0) FD_SET(socket->handle, &exceptSet);
    timeval now{0, 0};
    const int ready = select(0, &readSet, &writeSet, &exceptSet, &now);
    if (ready == SOCKET_ERROR) {
      const int error = WSAGetLastError();
      if (classifyError(error) == ErrorClass::kRetry) continue;
      recordFailure(socket, statusOfError(error));
      return kNetWaitFailed;
    }
    if (ready > 0) {
      *found = (FD_ISSET(socket->handle, &readSet) ? kReadable : 0u) |
               (FD_ISSET(socket->handle, &writeSet) ? kWritable : 0u) |
               (FD_ISSET(socket->handle, &exceptSet) ? kExceptional : 0u);
      return 1;
    }
    int32_t slice = kWaitSliceMs;
    if (timeoutMs >= 0) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - Clock::now())
                            .count();
      if (left <= 0) return 0;
      if (left < slice) slice = static_cast<int32_t>(left);
    }
    const WSAEVENT wakers[2] = {socket->networkEvent, socket->wakeEvent};
    if (WSAWaitForMultipleEvents(2, wakers, FALSE, static_cast<DWORD>(slice),
                                 FALSE) == WSA_WAIT_FAILED) {
      return kNetWaitFailed;
    }
  }
}

// --- Name look-up ------------------------------------------------------------

struct AddrinfoFree {
  void operator()(addrinfo* results) const { freeaddrinfo(results); }
};
using AddrinfoPtr = std::unique_ptr<addrinfo, AddrinfoFree>;

struct Lookup {
  bool stopped = false;
  int code = 0;  // the resolver's result; 0 with `results` set
  AddrinfoPtr results;
};

// One look-up on its own thread. The thread and the caller share the job;
// a caller that gives up marks it abandoned and the thread frees whatever
// the resolver returns.
struct LookupJob {
  std::string host;
  std::string service;
  addrinfo hints{};
  Mutex lock;
  CondVar finished;
  bool done GUARDED_BY(lock) = false;
  bool abandoned GUARDED_BY(lock) = false;
  Lookup outcome GUARDED_BY(lock);
};

Lookup lookUpNow(const char* host, const char* service, const addrinfo& hints) {
  Lookup outcome;
  addrinfo* results = nullptr;
  outcome.code = getaddrinfo(host, service, &hints, &results);
  if (outcome.code == 0) outcome.results.reset(results);
  return outcome;
}

// Resolves `host` and `service`. Without a stop flag it blocks like the
// resolver; with one it gives up within kWaitSliceMs of the flag becoming
// nonzero (outcome.stopped), leaving the resolver to finish on its own.
Lookup lookUp(const char* host, const char* service, const addrinfo& hints,
              const std::atomic<int32_t>* stop) {
  if (stop == nullptr) return lookUpNow(host, service, hints);
  auto job = std::make_shared<LookupJob>();
  job->host = host;
  job->service = service != nullptr ? service : "";
  job->hints = hints;
  const bool withService = service != nullptr;
  try {
    std::thread([job, withService] {
      // Declared first, so it ends last: an abandoned look-up may outlive
      // every socket, and its results are freed before this clean-up.
      const WinsockUse winsock;
      const CrashThreadStack crashStack = crashHandlerThreadAttach();
      Lookup outcome =
          lookUpNow(job->host.c_str(),
                    withService ? job->service.c_str() : nullptr, job->hints);
      MutexLock guard(&job->lock);
      if (job->abandoned) return;  // outcome frees the results
      job->outcome = std::move(outcome);
      job->done = true;
      job->finished.notifyOne();
    }).detach();
  } catch (const std::system_error&) {
    return lookUpNow(host, service, hints);
  }
  MutexLock guard(&job->lock);
  while (!job->done) {
    if (stop->load() != 0) {
      job->abandoned = true;
      Lookup stopped;
      stopped.stopped = true;
      return stopped;
    }
    job->finished.waitFor(&job->lock, std::chrono::milliseconds(kWaitSliceMs));
  }
  return std::move(job->outcome);
}

// Connects the event-select (non-blocking) socket, waiting as long as the
// stop flag allows. Returns true when connected, else false with *status
// telling why.
bool connectWatchingStop(NetSocket* socket, NetStatus* status) {
  if (::connect(socket->handle,
                reinterpret_cast<const sockaddr*>(&socket->peer),
                socket->peerLength) == 0) {
    return true;
  }
  const int started = WSAGetLastError();
  if (classifyError(started) == ErrorClass::kFailed) {
    *status = statusOfError(started);
    return false;
  }
  // A refused or failed connect shows in the exception set.
  unsigned found = 0;
  const NetResult ready = waitFor(socket, kWritable | kExceptional, -1,
                                  socket->stop != nullptr, &found);
  if (ready == kNetStopped) {
    status->error = NetError::kStopped;
    return false;
  }
  if (ready != 1) {
    *status = statusOfError(WSAGetLastError());
    return false;
  }
  int error = 0;
  int length = sizeof(error);
  if (getsockopt(socket->handle, SOL_SOCKET, SO_ERROR,
                 reinterpret_cast<char*>(&error), &length) != 0) {
    error = WSAGetLastError();
  }
  if (error == 0 && (found & kWritable) == 0) error = WSAECONNREFUSED;
  if (error != 0) {
    *status = statusOfError(error);
    return false;
  }
  return true;
}

// The last step of both connect paths: connect to the stored peer and learn
// the local address. Releases the socket on failure.
NetSocket* finishConnect(NetSocket* socket, NetStatus* status) {
  if (!connectWatchingStop(socket, status)) {
    netDestroy(socket);
    return nullptr;
  }
  int length = sizeof(socket->local);
  if (getsockname(socket->handle, reinterpret_cast<sockaddr*>(&socket->local),
                  &length) != 0) {
    *status = statusOfError(WSAGetLastError());
    netDestroy(socket);
    return nullptr;
  }
  socket->localLength = length;
  return socket;
}

// Makes the socket itself, not inherited by child processes, with its two
// events and in event-select mode. Returns false, printing nothing, on any
// failure.
bool openHandle(NetSocket* socket, int family) {
  socket->handle = WSASocketW(family, SOCK_STREAM, 0, nullptr, 0,
                              WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (socket->handle == INVALID_SOCKET) return false;
  socket->networkEvent = WSACreateEvent();
  socket->wakeEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return socket->networkEvent != WSA_INVALID_EVENT &&
         socket->wakeEvent != nullptr &&
         WSAEventSelect(socket->handle, socket->networkEvent,
                        FD_READ | FD_WRITE | FD_OOB | FD_CONNECT | FD_CLOSE) ==
             0;
}

NetSocket* createBound(int family, Reporter* reporter) {
  NetSocket* socket = newRegisteredSocket();
  if (socket == nullptr) return nullptr;
  socket->reporter = reporter;
  if (!openHandle(socket, family)) {
    netDestroy(socket);
    return nullptr;
  }
  const BOOL on = TRUE;
  const DWORD off = 0;
  bool optionsSet =
      setsockopt(socket->handle, SOL_SOCKET, SO_REUSEADDR,
                 reinterpret_cast<const char*>(&on), sizeof(on)) == 0;
  if (optionsSet && family == AF_INET6) {
    optionsSet =
        setsockopt(socket->handle, IPPROTO_IPV6, IPV6_V6ONLY,
                   reinterpret_cast<const char*>(&off), sizeof(off)) == 0;
  }
  if (optionsSet) {
    optionsSet =
        setsockopt(socket->handle, IPPROTO_TCP, TCP_NODELAY,
                   reinterpret_cast<const char*>(&on), sizeof(on)) == 0;
  }
  if (!optionsSet) {
    const int error = WSAGetLastError();
    reportLine(reporter, ReportKind::kNotice, "setsockopt failed, error=%d",
               error);
    netDestroy(socket);
    return nullptr;
  }
  sockaddr_storage any{};
  int anyLength = 0;
  if (family == AF_INET6) {
    auto* address = reinterpret_cast<sockaddr_in6*>(&any);
    address->sin6_family = AF_INET6;
    address->sin6_addr = in6addr_any;
    anyLength = sizeof(sockaddr_in6);
  } else {
    auto* address = reinterpret_cast<sockaddr_in*>(&any);
    address->sin_family = AF_INET;
    address->sin_addr.s_addr = htonl(INADDR_ANY);
    anyLength = sizeof(sockaddr_in);
  }
  if (bind(socket->handle, reinterpret_cast<const sockaddr*>(&any),
           anyLength) != 0) {
    const int error = WSAGetLastError();
    reportLine(reporter, ReportKind::kNotice, "bind failed with %d", error);
    netDestroy(socket);
    return nullptr;
  }
  return socket;
}

// The resolver path: an IPv6 look-up in which IPv4 names and literals come
// back as IPv4-mapped addresses, a dual-stack socket, the first address.
NetSocket* connectResolved(const char* host, int32_t port,
                           const std::atomic<int32_t>* stop,
                           Reporter* reporter, NetStatus* status) {
  NetSocket* socket = netCreate6(reporter);
  if (socket == nullptr) socket = netCreate4(reporter);
  if (socket == nullptr) return nullptr;
  socket->stop = stop;
  char service[16];
  std::snprintf(service, sizeof(service), "%d", port);
  addrinfo hints{};
  hints.ai_family = AF_INET6;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_V4MAPPED;
  Lookup found = lookUp(host, service, hints, stop);
  if (found.stopped) {
    status->error = NetError::kStopped;
    netDestroy(socket);
    return nullptr;
  }
  if (found.code != 0) {
    netDestroy(socket);
    reportLine(reporter, ReportKind::kNotice, "error %d: %s", found.code,
               systemText(found.code).c_str());
    *status = statusOfError(found.code);
    return nullptr;
  }
  const addrinfo* first = found.results.get();
  const size_t length = first->ai_addrlen <= sizeof(socket->peer)
                            ? first->ai_addrlen
                            : sizeof(socket->peer);
  std::memcpy(&socket->peer, first->ai_addr, length);
  socket->peerLength = static_cast<int32_t>(length);
  // Freed while the socket still keeps Windows Sockets started.
  found.results.reset();
  return finishConnect(socket, status);
}

// The IPv4 path: an IPv4 look-up and its first address; fails silently.
NetSocket* connectIpv4(const char* host, int32_t port,
                       const std::atomic<int32_t>* stop, Reporter* reporter,
                       NetStatus* status) {
  NetSocket* socket = netCreate4(reporter);
  if (socket == nullptr) return nullptr;
  socket->stop = stop;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  Lookup found = lookUp(host, nullptr, hints, stop);
  if (found.stopped || found.code != 0) {
    *status = found.stopped ? netStatusOf(NetError::kStopped)
                            : statusOfError(found.code);
    netDestroy(socket);
    return nullptr;
  }
  auto* address = reinterpret_cast<sockaddr_in*>(&socket->peer);
  address->sin_family = AF_INET;
  address->sin_port = htons(static_cast<u_short>(port));
  address->sin_addr =
      reinterpret_cast<const sockaddr_in*>(found.results->ai_addr)->sin_addr;
  socket->peerLength = sizeof(sockaddr_in);
  found.results.reset();
  return finishConnect(socket, status);
}

void reportSendFailure(const NetSocket* socket, const char* message,
                       int32_t result, int error) {
  char host[1024] = "";
  char service[128] = "";
  if (socket->peerLength <= 0 ||
      getnameinfo(reinterpret_cast<const sockaddr*>(&socket->peer),
                  socket->peerLength, host, sizeof(host), service,
                  sizeof(service), 0) != 0) {
    host[0] = '\0';
    service[0] = '\0';
  }
  reportLine(socket->reporter, ReportKind::kNotice,
             "%s, returned %d (errno=%d) while sending to %s/%s", message,
             result, error, host, service);
}

// Fills the line reader with what one receive delivers. Returns the count,
// 0 when the peer closed, or a failure.
NetResult refillLineReader(NetSocket* socket) {
  if (socket->stop != nullptr) {
    unsigned found = 0;
    const NetResult ready = waitFor(socket, kReadable, -1, true, &found);
    if (ready < 0) return ready == kNetWaitFailed ? kNetFailed : ready;
  }
  const NetResult received = netReceive(
      socket, socket->lineReader.refillArea(), kNetLineReaderBytes);
  socket->lineReader.refilled(received);
  return received;
}

}  // namespace

NetSocket* netCreate4(Reporter* reporter) {
  return createBound(AF_INET, reporter);
}

NetSocket* netCreate6(Reporter* reporter) {
  return createBound(AF_INET6, reporter);
}

NetSocket* netConnect(const char* host, int32_t port,
                      const std::atomic<int32_t>* stop, Reporter* reporter,
                      NetStatus* status) {
  NetStatus ignored;
  if (status == nullptr) status = &ignored;
  *status = NetStatus{};
  if (host == nullptr || port < 1 || port > 65535) {
    debugTrace("no connection to %s:%d: invalid host or port\n",
               host != nullptr ? host : "(none)", port);
    status->error = host == nullptr ? NetError::kNoHost : NetError::kBadPort;
    return nullptr;
  }
  NetSocket* socket = connectResolved(host, port, stop, reporter, status);
  if (socket != nullptr) return socket;
  if (stop != nullptr && stop->load() != 0) {
    *status = netStatusOf(NetError::kStopped);
    return nullptr;
  }
  NetStatus second;
  socket = connectIpv4(host, port, stop, reporter, &second);
  if (socket != nullptr) {
    *status = NetStatus{};
  } else if (!status->failed()) {
    *status = second;
    if (!status->failed()) {
      *status = NetStatus{NetError::kSystem, NetPhase::kConnecting,
                          "no socket could be created"};
    }
  }
  return socket;
}

NetStatus netSocketStatus(const NetSocket* socket) {
  return socket != nullptr ? socket->failure : NetStatus{};
}

NetResult netWait(NetSocket* socket, int32_t timeoutMs) {
  if (!usable(socket)) return kNetNoSocket;
  if (timeoutMs < 0) return kNetWaitFailed;
  unsigned found = 0;
  const NetResult ready =
      waitFor(socket, kReadable | kExceptional, timeoutMs, false, &found);
  // Closed while waiting: readable, the receive that follows reports it.
  if (ready == kNetNoSocket) return 1;
  if (ready <= 0) return ready;
  if ((found & kExceptional) != 0) {
    recordFailure(socket, netStatusOf(NetError::kUrgent));
    return kNetWaitExceptional;
  }
  // A closed or failed connection counts as readable as well.
  if ((found & kReadable) != 0) return 1;
  return kNetWaitNotReadable;
}

NetResult netWaitReadable(NetSocket* socket, int32_t timeoutMs) {
  if (!usable(socket)) return kNetNoSocket;
  if (socket->lineReader.unread() > 0) return 1;
  return netWait(socket, timeoutMs);
}

NetResult netReceive(NetSocket* socket, uint8_t* buffer, int32_t size) {
  if (!usable(socket) || buffer == nullptr || size <= 0) return kNetNoSocket;
  if (socket->lineReader.unread() > 0) {
    return socket->lineReader.take(buffer, size);
  }
  // The socket never blocks: receive only what a wait found readable.
  for (;;) {
    unsigned found = 0;
    const NetResult ready = waitFor(socket, kReadable, -1, false, &found);
    // Closed while waiting: the end of the stream, as after a shutdown.
    if (ready == kNetNoSocket) return 0;
    if (ready < 0) return kNetFailed;
    const int received =
        recv(socket->handle, reinterpret_cast<char*>(buffer), size, 0);
    if (received >= 0) return received;
    const int error = WSAGetLastError();
    if (classifyError(error) == ErrorClass::kFailed) {
      recordFailure(socket, statusOfError(error));
      return kNetFailed;
    }
  }
}

NetResult netReadLine(char* buffer, int32_t size, NetSocket* socket) {
  return netLineReaderReadLine(
      socket != nullptr ? &socket->lineReader : nullptr, buffer, size,
      [socket] { return usable(socket); },
      [socket] { return refillLineReader(socket); });
}

// Windows raises no signal for a vanished peer: the send just fails.
NetResult netSend(NetSocket* socket, const uint8_t* bytes, int32_t length) {
  if (!usable(socket)) return kNetNoSocket;
  if (length <= 0) return 0;
  if (bytes == nullptr) return kNetNoSocket;
  int32_t sent = 0;
  while (sent < length) {
    const int result =
        send(socket->handle, reinterpret_cast<const char*>(bytes + sent),
             length - sent, 0);
    if (result > 0) {
      sent += result;
      continue;
    }
    if (result == 0) break;
    const int error = WSAGetLastError();
    const ErrorClass failure = classifyError(error);
    if (failure == ErrorClass::kRetry) continue;
    if (failure == ErrorClass::kWouldBlock) {
      unsigned found = 0;
      const NetResult ready =
          waitFor(socket, kWritable, -1, socket->stop != nullptr, &found);
      if (ready == kNetStopped || ready == kNetNoSocket) return ready;
      if (ready == 1) continue;
    }
    reportSendFailure(socket, "send failed", kNetFailed, error);
    recordFailure(socket, statusOfError(error));
    return kNetFailed;
  }
  return sent;
}

void netClose(NetSocket* socket) {
  if (socket == nullptr || socket->handle == INVALID_SOCKET) return;
  if (socket->closed.exchange(true)) return;
  shutdown(socket->handle, SD_BOTH);
  // Wakes a wait pending on the owner's thread; the socket and the events
  // stay allocated until netDestroy.
  if (socket->wakeEvent != nullptr) SetEvent(socket->wakeEvent);
}

void netDestroy(NetSocket* socket) {
  if (socket == nullptr) return;
  netClose(socket);
  if (socket->handle != INVALID_SOCKET) {
    closesocket(socket->handle);
    socket->handle = INVALID_SOCKET;
  }
  if (socket->networkEvent != WSA_INVALID_EVENT) {
    WSACloseEvent(socket->networkEvent);
    socket->networkEvent = WSA_INVALID_EVENT;
  }
  if (socket->wakeEvent != nullptr) {
    CloseHandle(socket->wakeEvent);
    socket->wakeEvent = nullptr;
  }
  netRegistryRemove(&socket->links, platformSocketsUnused);
  delete socket;
}
