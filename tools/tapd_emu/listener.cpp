#include "tools/tapd_emu/listener.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace tapd_emu {
namespace {

struct AddrInfoDeleter {
  void operator()(addrinfo* info) const { freeaddrinfo(info); }
};

constexpr int kBacklog = 64;

}  // namespace

std::string addressName(const sockaddr* address) {
  char host[INET6_ADDRSTRLEN] = "?";
  int port = 0;
  if (address->sa_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(address);
    inet_ntop(AF_INET, &in->sin_addr, host, sizeof host);
    port = ntohs(in->sin_port);
    return std::string(host) + ":" + std::to_string(port);
  }
  if (address->sa_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(address);
    inet_ntop(AF_INET6, &in6->sin6_addr, host, sizeof host);
    port = ntohs(in6->sin6_port);
  }
  return "[" + std::string(host) + "]:" + std::to_string(port);
}

ScopedFd openListener(const std::string& address, int port, std::string* bound,
                      std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(port);
  const int looked =
      getaddrinfo(address.c_str(), service.c_str(), &hints, &found);
  if (looked != 0) {
    *error = "cannot listen on " + address + ": " + gai_strerror(looked);
    return ScopedFd();
  }
  std::unique_ptr<addrinfo, AddrInfoDeleter> results(found);
  ScopedFd fd(socket(found->ai_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
  const int on = 1;
  if (!fd.valid() ||
      setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      bind(fd.get(), found->ai_addr, found->ai_addrlen) != 0 ||
      listen(fd.get(), kBacklog) != 0) {
    *error = "cannot listen on " + address + " port " + service + ": " +
             strerror(errno);
    return ScopedFd();
  }
  sockaddr_storage local{};
  socklen_t length = sizeof local;
  if (getsockname(fd.get(), reinterpret_cast<sockaddr*>(&local), &length) !=
      0) {
    *error = std::string("getsockname failed: ") + strerror(errno);
    return ScopedFd();
  }
  *bound = addressName(reinterpret_cast<const sockaddr*>(&local));
  return fd;
}

}  // namespace tapd_emu
