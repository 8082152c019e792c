// The accept loop: one thread per client connection, at most a given number
// at once, until a stop (stop_signal.h); then every session ends and is
// joined.
//
// Thread-safety: runServer runs on the main thread.
#pragma once

#include "tools/tapd_emu/session.h"

namespace tapd_emu {

// Serves connections on the listening socket `listenFd`. Returns 0 after a
// stop, 1 when accepting failed for good.
int runServer(int listenFd, const SessionConfig& config, int maxClients);

}  // namespace tapd_emu
