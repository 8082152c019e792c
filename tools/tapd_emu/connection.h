// Bounded, stoppable I/O on a client connection. Every wait also watches the
// stop pipe (stop_signal.h), so a stop ends it at once.
//
// Thread-safety: one thread per connection.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace tapd_emu {

enum class IoEnd {
  kOk,
  kClosed,   // the client closed or reset the connection
  kStopped,  // SIGINT or SIGTERM
  kTimeout,  // no progress in time
  kTooLong   // a line longer than allowed
};

// How long a send may find no room before the client counts as stalled.
constexpr int kSendStallMs = 30000;

// Sends all `length` bytes (no SIGPIPE when the client has gone).
IoEnd sendAll(int fd, const uint8_t* data, size_t length);

// Receives one line, ended by "\n", within `timeoutMs` and stores it without
// its "\r\n" (or bare "\n") in *line. Bytes after the line end are dropped.
// kTooLong when `maxLength` bytes came without a line end.
IoEnd receiveLine(int fd, int timeoutMs, size_t maxLength, std::string* line);

// Waits until `deadline`. Ends early with kClosed when the client closes the
// connection (bytes it sends meanwhile are read and dropped), or kStopped.
IoEnd waitUntil(int fd, std::chrono::steady_clock::time_point deadline);

}  // namespace tapd_emu
