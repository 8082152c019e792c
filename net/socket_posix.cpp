// The system calls of net/socket_platform.h on BSD sockets.
//
// Sockets block, except while connecting and in a send that must not; a
// pending poll, recv or send is woken by the shutdown of netClose.
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
#include <cstring>
#include <new>
#include <string>

#include "net/socket_platform.h"

struct NetOsSocket {
  int descriptor = -1;
};

namespace {

static_assert(sizeof(sockaddr_storage) <= sizeof(NetAddress::bytes),
              "NetAddress holds any socket address");

std::atomic<NetLookup> lookupFunction{nullptr};

const sockaddr* address(const NetAddress& a) {
  return reinterpret_cast<const sockaddr*>(a.bytes);
}

int systemFamily(NetFamily family) {
  return family == NetFamily::kIpv6 ? AF_INET6 : AF_INET;
}

socklen_t addressLength(NetFamily family) {
  return family == NetFamily::kIpv6 ? sizeof(sockaddr_in6)
                                    : sizeof(sockaddr_in);
}

// Takes ownership of `descriptor`: closes it when the record cannot be
// allocated.
NetOsSocket* wrap(int descriptor) {
  NetOsSocket* socket = new (std::nothrow) NetOsSocket;
  if (socket == nullptr) {
    ::close(descriptor);
    return nullptr;
  }
  socket->descriptor = descriptor;
  return socket;
}

bool setOption(int descriptor, int level, int name, int value) {
  return setsockopt(descriptor, level, name, &value, sizeof(value)) == 0;
}

}  // namespace

// BSD sockets need no start-up or clean-up.
bool netOsStart() { return true; }
void netOsStop() {}

NetOsSocket* netOsOpen(NetFamily family) {
  const int descriptor =
      ::socket(systemFamily(family), SOCK_STREAM | SOCK_CLOEXEC, 0);
  return descriptor >= 0 ? wrap(descriptor) : nullptr;
}

bool netOsSetOptions(NetOsSocket* socket, NetFamily family) {
  const int d = socket->descriptor;
  return setOption(d, SOL_SOCKET, SO_REUSEADDR, 1) &&
         (family != NetFamily::kIpv6 ||
          setOption(d, IPPROTO_IPV6, IPV6_V6ONLY, 0)) &&
         setOption(d, IPPROTO_TCP, TCP_NODELAY, 1);
}

bool netOsBindAny(NetOsSocket* socket, NetFamily family) {
  // The any-address of both families is all zeros but for the family.
  sockaddr_storage any{};
  any.ss_family = systemFamily(family);
  return bind(socket->descriptor, reinterpret_cast<sockaddr*>(&any),
              addressLength(family)) == 0;
}

void netOsShutdownAndWake(NetOsSocket* socket) {
  shutdown(socket->descriptor, SHUT_RDWR);
}

void netOsRelease(NetOsSocket* socket) {
  if (socket == nullptr) return;
  ::close(socket->descriptor);
  delete socket;
}

bool netOsConnectMode(NetOsSocket* socket, bool connecting) {
  const int flags = fcntl(socket->descriptor, F_GETFL);
  return flags >= 0 &&
         fcntl(socket->descriptor, F_SETFL,
               connecting ? flags | O_NONBLOCK : flags & ~O_NONBLOCK) == 0;
}

int netOsStartConnect(NetOsSocket* socket, const NetAddress& peer) {
  return ::connect(socket->descriptor, address(peer),
                   static_cast<socklen_t>(peer.length)) == 0
             ? 0
             : errno;
}

int netOsConnectError(NetOsSocket* socket, unsigned /*found*/) {
  int error = 0;
  socklen_t length = sizeof(error);
  if (getsockopt(socket->descriptor, SOL_SOCKET, SO_ERROR, &error, &length) !=
      0) {
    error = errno;
  }
  return error;
}

int netOsWait(NetOsSocket* socket, unsigned wanted, int32_t timeoutMs,
              unsigned* found) {
  const short in = (wanted & kNetReadable) != 0 ? POLLIN : 0;
  const short out = (wanted & kNetWritable) != 0 ? POLLOUT : 0;
  const short pri = (wanted & kNetExceptional) != 0 ? POLLPRI : 0;
  pollfd entry{socket->descriptor, static_cast<short>(in | out | pri), 0};
  const int ready = poll(&entry, 1, timeoutMs);
  if (ready <= 0) return ready < 0 ? -1 : 0;
  if ((entry.revents & POLLNVAL) != 0) {
    errno = EBADF;
    return -1;
  }
  // A closed or failed connection counts as ready: the call that follows
  // reports it.
  const short failed = POLLHUP | POLLERR;
  *found =
      ((entry.revents & (in | failed)) != 0 && in != 0 ? kNetReadable : 0u) |
      ((entry.revents & (out | failed)) != 0 && out != 0 ? kNetWritable : 0u) |
      ((entry.revents & POLLPRI) != 0 ? kNetExceptional : 0u);
  return 1;
}

int32_t netOsReceive(NetOsSocket* socket, uint8_t* buffer, int32_t size) {
  return static_cast<int32_t>(
      recv(socket->descriptor, buffer, static_cast<size_t>(size), 0));
}

int32_t netOsSend(NetOsSocket* socket, const uint8_t* bytes, int32_t length,
                  bool dontWait) {
  return static_cast<int32_t>(
      send(socket->descriptor, bytes, static_cast<size_t>(length),
           MSG_NOSIGNAL | (dontWait ? MSG_DONTWAIT : 0)));
}

int netOsLastError() { return errno; }

NetErrorClass netOsErrorClass(int error) {
  if (error == EINTR) return NetErrorClass::kRetry;
  if (error == EAGAIN || error == EWOULDBLOCK || error == EINPROGRESS ||
      error == EALREADY) {
    return NetErrorClass::kWouldBlock;
  }
  return NetErrorClass::kFailed;
}

std::string netOsErrorText(int error) { return std::strerror(error); }

const NetOsCodes kNetOsCodes = {
    ECONNREFUSED, ETIMEDOUT, EHOSTUNREACH, ENETUNREACH, ECONNRESET,
    ECONNABORTED, EPIPE,     EAI_NONAME,   EAI_AGAIN,
#ifdef EAI_NODATA
    EAI_NODATA,
#else
    kNetOsNoCode,
#endif
    EAI_SYSTEM,
};

int netOsResolve(const char* host, const char* service, NetFamily family,
                 NetAddress* first, int* systemError) {
  NetLookup lookup = lookupFunction.load();
  if (lookup == nullptr) lookup = getaddrinfo;
  addrinfo hints{};
  hints.ai_family = systemFamily(family);
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = family == NetFamily::kIpv6 ? AI_V4MAPPED : 0;
  addrinfo* results = nullptr;
  const int code = lookup(host, service, &hints, &results);
  *systemError = errno;
  if (code != 0) return code;
  netAddressCopy(first, results->ai_addr, results->ai_addrlen);
  freeaddrinfo(results);
  return 0;
}

std::string netOsResolverText(int code) { return gai_strerror(code); }

void netOsSetPort(NetAddress* address, int32_t port) {
  reinterpret_cast<sockaddr_in*>(address->bytes)->sin_port =
      htons(static_cast<uint16_t>(port));
}

bool netOsAddressName(const NetAddress& a, char* host, size_t hostSize,
                      char* service, size_t serviceSize) {
  return getnameinfo(address(a), static_cast<socklen_t>(a.length), host,
                     static_cast<socklen_t>(hostSize), service,
                     static_cast<socklen_t>(serviceSize), 0) == 0;
}

// --- The POSIX additions of net/socket_posix.h
// --------------------------------

void netSetLookup(NetLookup lookup) { lookupFunction.store(lookup); }

NetSocket* netAdoptDescriptor(int descriptor,
                              const std::atomic<int32_t>* stop) {
  if (descriptor < 0) return nullptr;
  NetOsSocket* socket = wrap(descriptor);
  if (socket == nullptr) return nullptr;
  NetAddress peer;
  socklen_t length = sizeof(peer.bytes);
  if (getpeername(descriptor, reinterpret_cast<sockaddr*>(peer.bytes),
                  &length) == 0) {
    peer.length = static_cast<int32_t>(length);
  }
  return netSocketOfOs(socket, peer, stop);
}
