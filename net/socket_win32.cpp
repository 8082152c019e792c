// The system calls of net/socket_platform.h on Windows Sockets 2.2.
//
// Every socket is in event-select mode (and so never blocks): a wait polls
// the socket with a zero-time-out select and sleeps on two events, the
// socket's network event and a wake event that netOsShutdownAndWake sets.
// shutdown alone does not wake a pending select or recv on every
// implementation, the wake event does. A sleep lasts at most kWaitSliceMs,
// so a missed network event costs one slice at most.
#include <winsock2.h>
#include <ws2tcpip.h>
// After the sockets headers, which stand in for its older winsock.h.
#include <windows.h>

#include <new>
#include <string>

#include "net/socket_platform.h"

struct NetOsSocket {
  SOCKET handle = INVALID_SOCKET;
  WSAEVENT networkEvent = WSA_INVALID_EVENT;
  HANDLE wakeEvent = nullptr;  // manual reset
};

namespace {

static_assert(sizeof(sockaddr_storage) <= sizeof(NetAddress::bytes),
              "NetAddress holds any socket address");

// The longest single sleep of a wait.
constexpr int32_t kWaitSliceMs = 100;
constexpr WORD kWinsockVersion = MAKEWORD(2, 2);

const sockaddr* address(const NetAddress& a) {
  return reinterpret_cast<const sockaddr*>(a.bytes);
}

int systemFamily(NetFamily family) {
  return family == NetFamily::kIpv6 ? AF_INET6 : AF_INET;
}

bool setOption(SOCKET handle, int level, int name, DWORD value) {
  return setsockopt(handle, level, name, reinterpret_cast<const char*>(&value),
                    sizeof(value)) == 0;
}

}  // namespace

bool netOsStart() {
  WSADATA data;
  return WSAStartup(kWinsockVersion, &data) == 0;
}

void netOsStop() { WSACleanup(); }

void netOsSetPort(NetAddress* address, int32_t port) {
  reinterpret_cast<sockaddr_in*>(address->bytes)->sin_port =
      htons(static_cast<u_short>(port));
}

bool netOsAddressName(const NetAddress& a, char* host, size_t hostSize,
                      char* service, size_t serviceSize) {
  return getnameinfo(address(a), a.length, host, static_cast<DWORD>(hostSize),
                     service, static_cast<DWORD>(serviceSize), 0) == 0;
}

NetOsSocket* netOsOpen(NetFamily family) {
  NetOsSocket* socket = new (std::nothrow) NetOsSocket;
  if (socket == nullptr) return nullptr;
  socket->handle = WSASocketW(systemFamily(family), SOCK_STREAM, 0, nullptr, 0,
                              WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
  if (socket->handle != INVALID_SOCKET) {
    socket->networkEvent = WSACreateEvent();
    socket->wakeEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (socket->networkEvent != WSA_INVALID_EVENT &&
        socket->wakeEvent != nullptr &&
        WSAEventSelect(socket->handle, socket->networkEvent,
                       FD_READ | FD_WRITE | FD_OOB | FD_CONNECT | FD_CLOSE) ==
            0) {
      return socket;
    }
  }
  netOsRelease(socket);
  return nullptr;
}

bool netOsSetOptions(NetOsSocket* socket, NetFamily family) {
  const SOCKET s = socket->handle;
  return setOption(s, SOL_SOCKET, SO_REUSEADDR, TRUE) &&
         (family != NetFamily::kIpv6 ||
          setOption(s, IPPROTO_IPV6, IPV6_V6ONLY, 0)) &&
         setOption(s, IPPROTO_TCP, TCP_NODELAY, TRUE);
}

bool netOsBindAny(NetOsSocket* socket, NetFamily family) {
  // The any-address of both families is all zeros but for the family.
  sockaddr_storage any{};
  any.ss_family = static_cast<ADDRESS_FAMILY>(systemFamily(family));
  const int length =
      family == NetFamily::kIpv6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
  return bind(socket->handle, reinterpret_cast<sockaddr*>(&any), length) == 0;
}

void netOsShutdownAndWake(NetOsSocket* socket) {
  shutdown(socket->handle, SD_BOTH);
  if (socket->wakeEvent != nullptr) SetEvent(socket->wakeEvent);
}

void netOsRelease(NetOsSocket* socket) {
  if (socket == nullptr) return;
  if (socket->handle != INVALID_SOCKET) closesocket(socket->handle);
  if (socket->networkEvent != WSA_INVALID_EVENT) {
    WSACloseEvent(socket->networkEvent);
  }
  if (socket->wakeEvent != nullptr) CloseHandle(socket->wakeEvent);
  delete socket;
}

// Event-select mode already keeps a connect from blocking.
bool netOsConnectMode(NetOsSocket* /*socket*/, bool /*connecting*/) {
  return true;
}

int netOsStartConnect(NetOsSocket* socket, const NetAddress& peer) {
  return ::connect(socket->handle, address(peer), peer.length) == 0
             ? 0
             : WSAGetLastError();
}

// A refused or failed connect shows in the exception set only.
int netOsConnectError(NetOsSocket* socket, unsigned found) {
  int error = 0;
  int length = sizeof(error);
  if (getsockopt(socket->handle, SOL_SOCKET, SO_ERROR,
                 reinterpret_cast<char*>(&error), &length) != 0) {
    error = WSAGetLastError();
  }
  if (error == 0 && (found & kNetWritable) == 0) error = WSAECONNREFUSED;
  return error;
}

int netOsWait(NetOsSocket* socket, unsigned wanted, int32_t timeoutMs,
              unsigned* found) {
  // Clears the network event first: whatever happens after the select
  // below sets it again and ends the sleep.
  WSANETWORKEVENTS events;
  WSAEnumNetworkEvents(socket->handle, socket->networkEvent, &events);
  fd_set sets[3];
  const unsigned kinds[3] = {kNetReadable, kNetWritable, kNetExceptional};
  for (int i = 0; i < 3; ++i) {
    FD_ZERO(&sets[i]);
    if ((wanted & kinds[i]) != 0) FD_SET(socket->handle, &sets[i]);
  }
  timeval now{0, 0};
  const int ready = select(0, &sets[0], &sets[1], &sets[2], &now);
  if (ready == SOCKET_ERROR) return -1;
  if (ready > 0) {
    for (int i = 0; i < 3; ++i) {
      if (FD_ISSET(socket->handle, &sets[i])) *found |= kinds[i];
    }
    return 1;
  }
  const int32_t slice =
      timeoutMs < 0 || timeoutMs > kWaitSliceMs ? kWaitSliceMs : timeoutMs;
  const WSAEVENT wakers[2] = {socket->networkEvent, socket->wakeEvent};
  return WSAWaitForMultipleEvents(2, wakers, FALSE, static_cast<DWORD>(slice),
                                  FALSE) == WSA_WAIT_FAILED
             ? -1
             : 0;
}

int32_t netOsReceive(NetOsSocket* socket, uint8_t* buffer, int32_t size) {
  return recv(socket->handle, reinterpret_cast<char*>(buffer), size, 0);
}

// Windows raises no signal for a vanished peer: the send just fails.
int32_t netOsSend(NetOsSocket* socket, const uint8_t* bytes, int32_t length,
                  bool /*dontWait*/) {
  return send(socket->handle, reinterpret_cast<const char*>(bytes), length, 0);
}

int netOsLastError() { return WSAGetLastError(); }

NetErrorClass netOsErrorClass(int error) {
  if (error == WSAEINTR) return NetErrorClass::kRetry;
  if (error == WSAEWOULDBLOCK || error == WSAEINPROGRESS ||
      error == WSAEALREADY) {
    return NetErrorClass::kWouldBlock;
  }
  return NetErrorClass::kFailed;
}

// The system's text for an error or resolver code, on one line (the line
// break that ends it becomes a space, which is dropped).
std::string netOsErrorText(int error) {
  char text[1024] = "";
  DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
          FORMAT_MESSAGE_MAX_WIDTH_MASK,
      nullptr, static_cast<DWORD>(error),
      MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof(text), nullptr);
  if (length >= sizeof(text)) length = 0;
  while (length > 0 && text[length - 1] == ' ') --length;
  return std::string(text, length);
}

// Resolver results are Windows Sockets error codes (EAI_NONAME is
// WSAHOST_NOT_FOUND, ...); no broken-pipe code of its own.
const NetOsCodes kNetOsCodes = {
    WSAECONNREFUSED, WSAETIMEDOUT,    WSAEHOSTUNREACH, WSAENETUNREACH,
    WSAECONNRESET,   WSAECONNABORTED, kNetOsNoCode,    WSAHOST_NOT_FOUND,
    WSATRY_AGAIN,    WSANO_DATA,      kNetOsNoCode,
};

int netOsResolve(const char* host, const char* service, NetFamily family,
                 NetAddress* first, int* systemError) {
  *systemError = 0;  // resolver results are system error codes already
  addrinfo hints{};
  hints.ai_family = systemFamily(family);
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = family == NetFamily::kIpv6 ? AI_V4MAPPED : 0;
  addrinfo* results = nullptr;
  const int code = getaddrinfo(host, service, &hints, &results);
  if (code == 0) {
    netAddressCopy(first, results->ai_addr, results->ai_addrlen);
    freeaddrinfo(results);
  }
  return code;
}

std::string netOsResolverText(int code) { return netOsErrorText(code); }
