// The emulator's listening TCP socket, and the names of its peers.
//
// Thread-safety: plain functions; the returned descriptor has one owner.
#pragma once

#include <string>

#include "tools/tapd_emu/scoped_fd.h"

struct sockaddr;

namespace tapd_emu {

// Listens on `address` (an IPv4 or IPv6 address, or a host name, whose
// first address is taken) at `port` (0: a free port). On success stores the
// address and port actually bound as "ADDR:PORT" ("[ADDR]:PORT" for IPv6)
// in *bound; on failure returns an invalid descriptor with *error set.
ScopedFd openListener(const std::string& address, int port, std::string* bound,
                      std::string* error);

// "ADDR:PORT" of a socket address.
std::string addressName(const sockaddr* address);

}  // namespace tapd_emu
