// The loopback address of a family at a port, shared by the platform files
// of the loopback socket layer. The includer brings its platform's socket
// headers (sockaddr_in6, in6addr_loopback, htons) first.
#pragma once

#include "tests/loopback_socket.h"

namespace loopback {

// Fills `*address` with 127.0.0.1 or ::1 and `port`; returns its length.
inline int loopbackAddress(Family family, int port,
                           sockaddr_storage* address) {
  *address = sockaddr_storage{};
  if (family == Family::kIpv6) {
    auto* v6 = reinterpret_cast<sockaddr_in6*>(address);
    v6->sin6_family = AF_INET6;
    v6->sin6_addr = in6addr_loopback;
    v6->sin6_port = htons(static_cast<uint16_t>(port));
    return sizeof(*v6);
  }
  auto* v4 = reinterpret_cast<sockaddr_in*>(address);
  v4->sin_family = AF_INET;
  v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  v4->sin_port = htons(static_cast<uint16_t>(port));
  return sizeof(*v4);
}

// The port of an address that loopbackAddress filled.
inline int portOf(const sockaddr_storage& address) {
  return address.ss_family == AF_INET6
             ? ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port)
             : ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

}  // namespace loopback
