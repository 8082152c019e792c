// POSIX-only additions to NetSocket: wrapping a stream descriptor that was
// connected elsewhere (a socketpair, an accepted connection), so that the
// line reader and the queue exchange can run on any connected stream; and
// the resolver seam.
//
// Thread-safety: as NetSocket.
#pragma once

#include <atomic>
#include <cstdint>

#include "net/socket.h"

// Makes a registered NetSocket of the connected stream `descriptor` and takes
// ownership of it (netDestroy closes it). `stop` as in netConnect. Returns
// nullptr, closing the descriptor, when the record cannot be allocated or
// the descriptor is negative.
// REQUIRES: *stop outlives the socket.
[[nodiscard]] NetSocket* netAdoptDescriptor(
    int descriptor, const std::atomic<int32_t>* stop = nullptr);

struct addrinfo;

// The resolver call of netConnect, with getaddrinfo's contract: results are
// released with freeaddrinfo.
using NetLookup = int (*)(const char* host, const char* service,
                          const addrinfo* hints, addrinfo** results);

// Makes netConnect resolve through `lookup` (null: getaddrinfo), so tests
// can stand in a slow or failing resolver.
// REQUIRES: no netConnect is in progress.
void netSetLookup(NetLookup lookup);
