// NetSocket on BSD sockets.
//
// Closing is split in two so that a stop on another thread is safe: netClose
// only shuts the connection down (which wakes a pending poll or recv of the
// owner) and marks the record closed; the descriptor is released by
// netDestroy, which the owner calls once it has left every call.
#include "net/socket_posix.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

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
  // Set at creation, released by netDestroy only; never changes in between,
  // so a netClose on another thread never races with its readers.
  int handle = -1;
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

// How often a blocking call that watches a stop flag looks at it.
constexpr int kStopPollMs = 100;

// BSD sockets need no start-up or clean-up call for the process; these
// mark where a platform that does needs them (first socket, last socket).
bool platformSocketsUsed() { return true; }
void platformSocketsUnused() {}

// --- System errors --------------------------------------------------------

// The one place that decides what a failed system call means here.
enum class ErrorClass {
  kRetry,       // interrupted by a signal: call again
  kWouldBlock,  // a non-blocking call found nothing to do yet
  kFailed,      // a real failure: the operation returns kNetFailed
};

ErrorClass classifyErrno(int error) {
  if (error == EINTR) return ErrorClass::kRetry;
  if (error == EAGAIN || error == EWOULDBLOCK || error == EINPROGRESS ||
      error == EALREADY) {
    return ErrorClass::kWouldBlock;
  }
  return ErrorClass::kFailed;
}

// The reason of a system error code; the codes of a failed connection or
// transfer have values of their own, with the same words on every platform.
NetStatus statusOfErrno(int error) {
  NetStatus status;
  switch (error) {
    case ECONNREFUSED:
      status.error = NetError::kRefused;
      break;
    case ETIMEDOUT:
      status.error = NetError::kTimedOut;
      break;
    case EHOSTUNREACH:
      status.error = NetError::kHostUnreachable;
      break;
    case ENETUNREACH:
      status.error = NetError::kNetUnreachable;
      break;
    case ECONNRESET:
      status.error = NetError::kReset;
      break;
    case ECONNABORTED:
      status.error = NetError::kAborted;
      break;
    case EPIPE:
      status.error = NetError::kBrokenPipe;
      break;
    default:
      status.error = NetError::kSystem;
      status.systemText = std::strerror(error);
      break;
  }
  return status;
}

// The reason of a resolver result other than 0.
NetStatus statusOfLookup(int code, int error) {
  NetStatus status;
  switch (code) {
    case EAI_NONAME:
      status.error = NetError::kUnknownHost;
      break;
    case EAI_AGAIN:
      status.error = NetError::kNameTryAgain;
      break;
#ifdef EAI_NODATA
    case EAI_NODATA:
      status.error = NetError::kNoAddress;
      break;
#endif
    case EAI_SYSTEM:
      return statusOfErrno(error);
    default:
      status.error = NetError::kSystem;
      status.systemText = gai_strerror(code);
      break;
  }
  return status;
}

void recordFailure(NetSocket* socket, const NetStatus& status) {
  socket->failure = status;
}

// --- Helpers ----------------------------------------------------------------

bool usable(const NetSocket* socket) {
  return socket != nullptr && socket->handle >= 0 && !socket->closed.load();
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

// Waits until the socket is ready for `events` or fails. Watches the stop
// flag when the socket has one. Returns 1 ready, kNetStopped, kNetFailed.
NetResult waitReady(NetSocket* socket, short events) {
  for (;;) {
    if (stopRequested(socket)) {
      recordFailure(socket, netStatusOf(NetError::kStopped));
      return kNetStopped;
    }
    if (socket->closed.load()) return kNetNoSocket;
    pollfd entry{socket->handle, events, 0};
    const int ready =
        poll(&entry, 1, socket->stop != nullptr ? kStopPollMs : -1);
    if (ready > 0) return 1;
    if (ready < 0 && classifyErrno(errno) != ErrorClass::kRetry) {
      recordFailure(socket, statusOfErrno(errno));
      return kNetFailed;
    }
  }
}

// --- Name look-up ------------------------------------------------------------

std::atomic<NetLookup> lookupFunction{nullptr};

struct AddrinfoFree {
  void operator()(addrinfo* results) const { freeaddrinfo(results); }
};
using AddrinfoPtr = std::unique_ptr<addrinfo, AddrinfoFree>;

struct Lookup {
  bool stopped = false;
  int code = 0;   // the resolver's result; 0 with `results` set
  int error = 0;  // errno after an EAI_SYSTEM failure
  AddrinfoPtr results;
};

// One look-up on its own thread. The thread and the caller share the job;
// a caller that gives up marks it abandoned and the thread frees whatever
// the resolver returns.
struct LookupJob {
  NetLookup lookup = nullptr;
  std::string host;
  std::string service;
  addrinfo hints{};
  Mutex lock;
  CondVar finished;
  bool done GUARDED_BY(lock) = false;
  bool abandoned GUARDED_BY(lock) = false;
  Lookup outcome GUARDED_BY(lock);
};

Lookup lookUpNow(NetLookup lookup, const char* host, const char* service,
                 const addrinfo& hints) {
  Lookup outcome;
  addrinfo* results = nullptr;
  outcome.code = lookup(host, service, &hints, &results);
  outcome.error = errno;
  if (outcome.code == 0) outcome.results.reset(results);
  return outcome;
}

// Resolves `host` and `service`. Without a stop flag it blocks like the
// resolver; with one it gives up within kStopPollMs of the flag becoming
// nonzero (outcome.stopped), leaving the resolver to finish on its own.
Lookup lookUp(const char* host, const char* service, const addrinfo& hints,
              const std::atomic<int32_t>* stop) {
  NetLookup lookup = lookupFunction.load();
  if (lookup == nullptr) lookup = getaddrinfo;
  if (stop == nullptr) return lookUpNow(lookup, host, service, hints);
  auto job = std::make_shared<LookupJob>();
  job->lookup = lookup;
  job->host = host;
  job->service = service != nullptr ? service : "";
  job->hints = hints;
  const bool withService = service != nullptr;
  try {
    std::thread([job, withService] {
      const CrashThreadStack crashStack = crashHandlerThreadAttach();
      Lookup outcome =
          lookUpNow(job->lookup, job->host.c_str(),
                    withService ? job->service.c_str() : nullptr, job->hints);
      MutexLock guard(&job->lock);
      if (job->abandoned) return;  // outcome frees the results
      job->outcome = std::move(outcome);
      job->done = true;
      job->finished.notifyOne();
    }).detach();
  } catch (const std::system_error&) {
    return lookUpNow(lookup, host, service, hints);
  }
  MutexLock guard(&job->lock);
  while (!job->done) {
    if (stop->load() != 0) {
      job->abandoned = true;
      Lookup stopped;
      stopped.stopped = true;
      return stopped;
    }
    job->finished.waitFor(&job->lock, std::chrono::milliseconds(kStopPollMs));
  }
  return std::move(job->outcome);
}

// Connects without blocking beyond what the stop flag allows. Returns true
// when connected, else false with *status telling why.
bool connectWatchingStop(NetSocket* socket, NetStatus* status) {
  const int flags = fcntl(socket->handle, F_GETFL);
  if (flags < 0 || fcntl(socket->handle, F_SETFL, flags | O_NONBLOCK) < 0) {
    *status = statusOfErrno(errno);
    return false;
  }
  bool connected = ::connect(socket->handle,
                             reinterpret_cast<const sockaddr*>(&socket->peer),
                             static_cast<socklen_t>(socket->peerLength)) == 0;
  int error = connected ? 0 : errno;
  // An interrupted non-blocking connect goes on in the background, like one
  // in progress.
  if (!connected && classifyErrno(error) != ErrorClass::kFailed) {
    const NetResult ready = waitReady(socket, POLLOUT);
    if (ready == 1) {
      socklen_t length = sizeof(error);
      if (getsockopt(socket->handle, SOL_SOCKET, SO_ERROR, &error, &length) !=
          0) {
        error = errno;
      }
      connected = error == 0;
    } else if (ready == kNetStopped) {
      status->error = NetError::kStopped;
    } else {
      error = errno;
    }
  }
  if (!connected && !status->failed()) *status = statusOfErrno(error);
  // The connection is used with blocking calls from here on.
  if (fcntl(socket->handle, F_SETFL, flags) < 0) {
    if (connected) *status = statusOfErrno(errno);
    return false;
  }
  return connected;
}

// The last step of both connect paths: connect to the stored peer and learn
// the local address. Releases the socket on failure.
NetSocket* finishConnect(NetSocket* socket, NetStatus* status) {
  if (!connectWatchingStop(socket, status)) {
    netDestroy(socket);
    return nullptr;
  }
  socklen_t length = sizeof(socket->local);
  if (getsockname(socket->handle, reinterpret_cast<sockaddr*>(&socket->local),
                  &length) != 0) {
    *status = statusOfErrno(errno);
    netDestroy(socket);
    return nullptr;
  }
  socket->localLength = static_cast<int32_t>(length);
  return socket;
}

NetSocket* createBound(int family, Reporter* reporter) {
  NetSocket* socket = newRegisteredSocket();
  if (socket == nullptr) return nullptr;
  socket->reporter = reporter;
  socket->handle = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket->handle < 0) {
    netDestroy(socket);
    return nullptr;
  }
  const int on = 1;
  const int off = 0;
  bool optionsSet = setsockopt(socket->handle, SOL_SOCKET, SO_REUSEADDR, &on,
                               sizeof(on)) == 0;
  if (optionsSet && family == AF_INET6) {
    optionsSet = setsockopt(socket->handle, IPPROTO_IPV6, IPV6_V6ONLY, &off,
                            sizeof(off)) == 0;
  }
  if (optionsSet) {
    optionsSet = setsockopt(socket->handle, IPPROTO_TCP, TCP_NODELAY, &on,
                            sizeof(on)) == 0;
  }
  if (!optionsSet) {
    const int error = errno;
    reportLine(reporter, ReportKind::kNotice, "setsockopt failed, error=%d",
               error);
    netDestroy(socket);
    return nullptr;
  }
  sockaddr_storage any{};
  socklen_t anyLength = 0;
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
    const int error = errno;
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
  const Lookup found = lookUp(host, service, hints, stop);
  if (found.stopped) {
    status->error = NetError::kStopped;
    netDestroy(socket);
    return nullptr;
  }
  if (found.code != 0) {
    netDestroy(socket);
    reportLine(reporter, ReportKind::kNotice, "error %d: %s", found.code,
               found.code == EAI_SYSTEM ? std::strerror(found.error)
                                        : gai_strerror(found.code));
    *status = statusOfLookup(found.code, found.error);
    return nullptr;
  }
  const addrinfo* first = found.results.get();
  const size_t length = first->ai_addrlen <= sizeof(socket->peer)
                            ? first->ai_addrlen
                            : sizeof(socket->peer);
  std::memcpy(&socket->peer, first->ai_addr, length);
  socket->peerLength = static_cast<int32_t>(length);
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
  const Lookup found = lookUp(host, nullptr, hints, stop);
  if (found.stopped || found.code != 0) {
    *status = found.stopped ? netStatusOf(NetError::kStopped)
                            : statusOfLookup(found.code, found.error);
    netDestroy(socket);
    return nullptr;
  }
  auto* address = reinterpret_cast<sockaddr_in*>(&socket->peer);
  address->sin_family = AF_INET;
  address->sin_port = htons(static_cast<uint16_t>(port));
  address->sin_addr =
      reinterpret_cast<const sockaddr_in*>(found.results->ai_addr)->sin_addr;
  socket->peerLength = sizeof(sockaddr_in);
  return finishConnect(socket, status);
}

void reportSendFailure(const NetSocket* socket, const char* message,
                       int32_t result, int error) {
  char host[1024] = "";
  char service[128] = "";
  if (socket->peerLength <= 0 ||
      getnameinfo(reinterpret_cast<const sockaddr*>(&socket->peer),
                  static_cast<socklen_t>(socket->peerLength), host,
                  sizeof(host), service, sizeof(service), 0) != 0) {
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
    const NetResult ready = waitReady(socket, POLLIN);
    if (ready < 0) return ready;
  }
  const NetResult received = netReceive(
      socket, socket->lineReader.refillArea(), kNetLineReaderBytes);
  socket->lineReader.refilled(received);
  return received;
}

}  // namespace

void netSetLookup(NetLookup lookup) { lookupFunction.store(lookup); }

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

NetSocket* netAdoptDescriptor(int descriptor,
                              const std::atomic<int32_t>* stop) {
  if (descriptor < 0) return nullptr;
  NetSocket* socket = newRegisteredSocket();
  if (socket == nullptr) {
    ::close(descriptor);
    return nullptr;
  }
  socket->handle = descriptor;
  socket->stop = stop;
  socklen_t length = sizeof(socket->peer);
  if (getpeername(descriptor, reinterpret_cast<sockaddr*>(&socket->peer),
                  &length) == 0) {
    socket->peerLength = static_cast<int32_t>(length);
  }
  length = sizeof(socket->local);
  if (getsockname(descriptor, reinterpret_cast<sockaddr*>(&socket->local),
                  &length) == 0) {
    socket->localLength = static_cast<int32_t>(length);
  }
  return socket;
}

NetResult netWait(NetSocket* socket, int32_t timeoutMs) {
  if (!usable(socket)) return kNetNoSocket;
  if (timeoutMs < 0) return kNetWaitFailed;
  pollfd entry{socket->handle, POLLIN | POLLPRI, 0};
  const int ready = poll(&entry, 1, timeoutMs);
  if (ready < 0) {
    if (classifyErrno(errno) == ErrorClass::kRetry) return 0;
    recordFailure(socket, statusOfErrno(errno));
    return kNetWaitFailed;
  }
  if (ready == 0) return 0;
  if ((entry.revents & POLLNVAL) != 0) {
    recordFailure(socket, statusOfErrno(EBADF));
    return kNetWaitFailed;
  }
  if ((entry.revents & POLLPRI) != 0) {
    recordFailure(socket, netStatusOf(NetError::kUrgent));
    return kNetWaitExceptional;
  }
  // A closed or failed connection counts as readable: the receive that
  // follows reports it.
  if ((entry.revents & (POLLIN | POLLHUP | POLLERR)) != 0) return 1;
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
  for (;;) {
    const ssize_t received =
        recv(socket->handle, buffer, static_cast<size_t>(size), 0);
    if (received >= 0) return static_cast<int32_t>(received);
    if (classifyErrno(errno) != ErrorClass::kRetry) {
      recordFailure(socket, statusOfErrno(errno));
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

NetResult netSend(NetSocket* socket, const uint8_t* bytes, int32_t length) {
  if (!usable(socket)) return kNetNoSocket;
  if (length <= 0) return 0;
  if (bytes == nullptr) return kNetNoSocket;
  // With a stop flag the send must not block where the flag cannot be seen.
  const int flags = MSG_NOSIGNAL | (socket->stop != nullptr ? MSG_DONTWAIT : 0);
  int32_t sent = 0;
  while (sent < length) {
    const ssize_t result = send(socket->handle, bytes + sent,
                                static_cast<size_t>(length - sent), flags);
    if (result > 0) {
      sent += static_cast<int32_t>(result);
      continue;
    }
    if (result == 0) break;
    const int error = errno;
    const ErrorClass failure = classifyErrno(error);
    if (failure == ErrorClass::kRetry) continue;
    if (failure == ErrorClass::kWouldBlock) {
      const NetResult ready = waitReady(socket, POLLOUT);
      if (ready == kNetStopped || ready == kNetNoSocket) return ready;
      if (ready == 1) continue;
    }
    reportSendFailure(socket, "send failed", kNetFailed, error);
    recordFailure(socket, statusOfErrno(error));
    return kNetFailed;
  }
  return sent;
}

void netClose(NetSocket* socket) {
  if (socket == nullptr || socket->handle < 0) return;
  if (socket->closed.exchange(true)) return;
  // Wakes a poll or recv pending on the owner's thread; the descriptor
  // itself stays allocated until netDestroy.
  shutdown(socket->handle, SHUT_RDWR);
}

void netDestroy(NetSocket* socket) {
  if (socket == nullptr) return;
  netClose(socket);
  if (socket->handle >= 0) {
    ::close(socket->handle);
    socket->handle = -1;
  }
  netRegistryRemove(&socket->links, platformSocketsUnused);
  delete socket;
}
