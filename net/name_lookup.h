// A name look-up that an operator's stop can abandon: the resolver runs on
// a thread of its own while the caller watches the stop flag. Used by
// net/socket.cpp.
//
// Thread-safety: any thread; an abandoned look-up finishes on its own
// thread, holding its own start of the system's sockets.
#pragma once

#include <atomic>
#include <cstdint>

#include "net/socket_platform.h"

// How often a blocking call that watches a stop flag looks at it.
constexpr int32_t kNetStopPollMs = 100;

struct NetLookupOutcome {
  bool stopped = false;  // the stop flag ended the wait
  int code = 0;          // the resolver's result; 0 with `first` set
  int systemError = 0;   // the system's error code of the call
  NetAddress first;
};

// Resolves as netOsResolve. Without a stop flag it blocks like the
// resolver; with one it gives up within kNetStopPollMs of the flag becoming
// nonzero (result.stopped), leaving the resolver to finish on its own.
NetLookupOutcome netLookUp(const char* host, const char* service,
                           NetFamily family, const std::atomic<int32_t>* stop);
