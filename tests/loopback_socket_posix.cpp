#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "tests/loopback_address.h"
#include "tests/loopback_socket.h"

namespace loopback {

namespace {

int descriptorOf(SocketHandle socket) { return static_cast<int>(socket); }

}  // namespace

SocketHandle socketListen(Family family, int backlog, int* port) {
  const int domain = family == Family::kIpv6 ? AF_INET6 : AF_INET;
  const int listener = ::socket(domain, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listener < 0) return kNoSocket;
  sockaddr_storage address;
  socklen_t length =
      static_cast<socklen_t>(loopbackAddress(family, *port, &address));
  if (bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      listen(listener, backlog) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) !=
          0) {
    ::close(listener);
    return kNoSocket;
  }
  *port = portOf(address);
  return listener;
}

SocketHandle socketAccept(SocketHandle listener) {
  const int connection =
      accept4(descriptorOf(listener), nullptr, nullptr, SOCK_CLOEXEC);
  return connection >= 0 ? connection : kNoSocket;
}

SocketHandle socketConnectPending(int port) {
  const int client =
      ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (client < 0) return kNoSocket;
  sockaddr_storage address;
  const socklen_t length =
      static_cast<socklen_t>(loopbackAddress(Family::kIpv4, port, &address));
  if (connect(client, reinterpret_cast<sockaddr*>(&address), length) == 0 ||
      errno == EINPROGRESS) {
    return client;
  }
  ::close(client);
  return kNoSocket;
}

bool socketWait(SocketHandle socket, Readiness readiness, int timeoutMs) {
  pollfd entry{descriptorOf(socket),
               static_cast<short>(readiness == Readiness::kReadable ? POLLIN
                                                                    : POLLOUT),
               0};
  for (;;) {
    const int ready = poll(&entry, 1, timeoutMs);
    if (ready >= 0) return ready > 0;
    if (errno != EINTR) return false;
  }
}

long socketSend(SocketHandle socket, const char* bytes, size_t size,
                bool urgent) {
  const int flags = MSG_NOSIGNAL | (urgent ? MSG_OOB : 0);
  for (;;) {
    const ssize_t sent = ::send(descriptorOf(socket), bytes, size, flags);
    if (sent >= 0 || errno != EINTR) return sent;
  }
}

long socketReceive(SocketHandle socket, char* buffer, size_t size, bool peek) {
  for (;;) {
    const ssize_t got =
        recv(descriptorOf(socket), buffer, size, peek ? MSG_PEEK : 0);
    if (got >= 0 || errno != EINTR) return got;
  }
}

void socketShutdownSending(SocketHandle socket) {
  shutdown(descriptorOf(socket), SHUT_WR);
}

void socketClose(SocketHandle socket, bool abortive) {
  if (socket == kNoSocket) return;
  if (abortive) {
    const linger abort{1, 0};
    setsockopt(descriptorOf(socket), SOL_SOCKET, SO_LINGER, &abort,
               sizeof(abort));
  }
  ::close(descriptorOf(socket));
}

int socketPendingConnects(int port) {
  // Each line of the kernel's table: "sl local rem st ...", addresses as
  // HEX:PORT, state 02 for a connect waiting for its answer.
  int pending = 0;
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream lines(table);
    std::string line;
    std::getline(lines, line);  // the heading
    while (std::getline(lines, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state;
      fields >> slot >> local >> remote >> state;
      const size_t colon = remote.rfind(':');
      if (state == "02" && colon != std::string::npos &&
          std::stoi(remote.substr(colon + 1), nullptr, 16) == port) {
        ++pending;
      }
    }
  }
  return pending;
}

std::string socketFirstAddress(const char* name, Family family) {
  const int domain = family == Family::kIpv6 ? AF_INET6 : AF_INET;
  addrinfo hints{};
  hints.ai_family = domain;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* results = nullptr;
  if (getaddrinfo(name, nullptr, &hints, &results) != 0) return "";
  char text[INET6_ADDRSTRLEN] = "";
  const void* raw =
      domain == AF_INET6
          ? static_cast<const void*>(
                &reinterpret_cast<sockaddr_in6*>(results->ai_addr)->sin6_addr)
          : static_cast<const void*>(
                &reinterpret_cast<sockaddr_in*>(results->ai_addr)->sin_addr);
  inet_ntop(domain, raw, text, sizeof(text));
  freeaddrinfo(results);
  return text;
}

}  // namespace loopback
