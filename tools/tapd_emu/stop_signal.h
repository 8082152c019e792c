// The emulator's stop request. SIGINT and SIGTERM make stopFd() readable for
// good (a self-pipe that is never drained), so every wait that also polls
// it ends at once; SIGPIPE is ignored.
//
// Thread-safety: install once from main before any thread starts; then
// stopFd and stopRequested may be called from any thread.
#pragma once

#include <string>

namespace tapd_emu {

// Creates the pipe and installs the handlers. Returns "" or what failed.
std::string installStopSignals();

// The read end of the pipe: readable once a stop was requested.
int stopFd();

// True once SIGINT or SIGTERM arrived.
bool stopRequested();

}  // namespace tapd_emu
