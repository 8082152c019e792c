// The queue list (-l): connects to the recording service, reads its list of
// live queues and prints their names, one per line, without choosing one.
//
// Thread-safety: main thread only; the stop flag may be set from any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>

#include "core/result.h"
#include "support/failure.h"
#include "support/reporter.h"

// The longest queue name printed; the rest of a longer line is dropped.
constexpr size_t kQueueNameLimit = 64 * 1024;

// Prints the name of each queue as its line arrives: the line without its
// "\n" or "\r\n", and no empty line. Returns 0 once the end of the list has
// arrived; kResultNetwork when the service cannot be reached, closes the
// connection or fails before the end of the list, or `stop` became nonzero
// (what was printed stays), with *failure (may be null) telling why (empty
// after a stop); kResultWavOutput after printing "could not write the
// queue list (reason)" when `out` cannot be written. The socket layer's
// lines go to `reporter` (null: the console).
// REQUIRES: *stop outlives the call.
[[nodiscard]] Result listQueues(const char* host, int32_t port,
                                const std::atomic<int32_t>* stop, FILE* out,
                                Reporter* reporter = nullptr,
                                Failure* failure = nullptr);
