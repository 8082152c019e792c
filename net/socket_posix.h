// POSIX-only additions to NetSocket: wrapping a stream descriptor that was
// connected elsewhere (a socketpair, an accepted connection), so that the
// line reader and the queue exchange can run on any connected stream.
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
NetSocket* netAdoptDescriptor(int descriptor,
                              const std::atomic<int32_t>* stop = nullptr);
