#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>

#include "tests/loopback_address.h"
#include "tests/loopback_socket.h"

namespace loopback {

namespace {

// Windows Sockets stays started from the first call that makes a socket
// until the process ends; WSAStartup counts its callers, so the product's
// own start-up and clean-up are not disturbed.
class WinsockStart {
 public:
  WinsockStart() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~WinsockStart() {
    if (started_) WSACleanup();
  }
  WinsockStart(const WinsockStart&) = delete;
  WinsockStart& operator=(const WinsockStart&) = delete;
  bool started() const { return started_; }

 private:
  bool started_ = false;
};

bool winsockStarted() {
  static const WinsockStart start;
  return start.started();
}

SOCKET handleOf(SocketHandle socket) { return static_cast<SOCKET>(socket); }

SocketHandle handleFrom(SOCKET socket) {
  return socket == INVALID_SOCKET ? kNoSocket
                                  : static_cast<SocketHandle>(socket);
}

// A TCP socket that child processes do not inherit.
SOCKET newStreamSocket(int family) {
  return WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                    WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
}

int lengthOf(size_t size) {
  return size > static_cast<size_t>(INT_MAX) ? INT_MAX
                                             : static_cast<int>(size);
}

}  // namespace

SocketHandle socketListen(Family family, int backlog, int* port) {
  if (!winsockStarted()) return kNoSocket;
  const int domain = family == Family::kIpv6 ? AF_INET6 : AF_INET;
  const SOCKET listener = newStreamSocket(domain);
  if (listener == INVALID_SOCKET) return kNoSocket;
  sockaddr_storage address;
  int length = loopbackAddress(family, *port, &address);
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener, backlog) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) !=
          0) {
    closesocket(listener);
    return kNoSocket;
  }
  *port = portOf(address);
  return handleFrom(listener);
}

SocketHandle socketAccept(SocketHandle listener) {
  return handleFrom(accept(handleOf(listener), nullptr, nullptr));
}

SocketHandle socketConnectPending(int port) {
  if (!winsockStarted()) return kNoSocket;
  const SOCKET client = newStreamSocket(AF_INET);
  if (client == INVALID_SOCKET) return kNoSocket;
  u_long nonBlocking = 1;
  sockaddr_storage address;
  const int length = loopbackAddress(Family::kIpv4, port, &address);
  if (ioctlsocket(client, FIONBIO, &nonBlocking) == 0 &&
      (connect(client, reinterpret_cast<sockaddr*>(&address), length) == 0 ||
       WSAGetLastError() == WSAEWOULDBLOCK)) {
    return handleFrom(client);
  }
  closesocket(client);
  return kNoSocket;
}

bool socketWait(SocketHandle socket, Readiness readiness, int timeoutMs) {
  fd_set wanted;
  fd_set failed;
  FD_ZERO(&wanted);
  FD_ZERO(&failed);
  FD_SET(handleOf(socket), &wanted);
  // A failed connect shows in the exception set, not as writable; it
  // counts as ready, as POSIX reports it.
  if (readiness == Readiness::kWritable) FD_SET(handleOf(socket), &failed);
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int ready =
      readiness == Readiness::kReadable
          ? select(0, &wanted, nullptr, nullptr, &timeout)
          : select(0, nullptr, &wanted, &failed, &timeout);
  return ready > 0;
}

long socketSend(SocketHandle socket, const char* bytes, size_t size,
                bool urgent) {
  // A send to a vanished peer fails here without any signal.
  return ::send(handleOf(socket), bytes, lengthOf(size), urgent ? MSG_OOB : 0);
}

long socketReceive(SocketHandle socket, char* buffer, size_t size, bool peek) {
  return recv(handleOf(socket), buffer, lengthOf(size), peek ? MSG_PEEK : 0);
}

void socketShutdownSending(SocketHandle socket) {
  shutdown(handleOf(socket), SD_SEND);
}

void socketClose(SocketHandle socket, bool abortive) {
  if (socket == kNoSocket) return;
  if (abortive) {
    const linger abort{1, 0};
    setsockopt(handleOf(socket), SOL_SOCKET, SO_LINGER,
               reinterpret_cast<const char*>(&abort), sizeof(abort));
  }
  closesocket(handleOf(socket));
}

int socketPendingConnects(int) { return -1; }

std::string socketFirstAddress(const char* name, Family family) {
  if (!winsockStarted()) return "";
  addrinfo hints{};
  hints.ai_family = family == Family::kIpv6 ? AF_INET6 : AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* results = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &results) != 0) return "";
  char text[NI_MAXHOST] = "";
  const bool named =
      getnameinfo(results->ai_addr, static_cast<int>(results->ai_addrlen),
                  text, sizeof(text), nullptr, 0, NI_NUMERICHOST) == 0;
  freeaddrinfo(results);
  return named ? text : "";
}

}  // namespace loopback
