// One client connection, served from start to end: the queue list, the
// client's queue-name line, then the queue's audio, paced in real time or
// as fast as the client reads. Logs one line on stderr when it ends.
//
// Thread-safety: runSession runs on its own thread; the queues it serves are
// shared read-only.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tools/tapd_emu/queue_setup.h"
#include "tools/tapd_emu/scoped_fd.h"
#include "tools/tapd_emu/source_audio.h"

namespace tapd_emu {

struct ServedQueue {
  QueueSetup setup;
  SourceAudio audio;
  // Calls handed out so far (--call-seconds); shared by the sessions.
  std::shared_ptr<std::atomic<uint64_t>> callsServed =
      std::make_shared<std::atomic<uint64_t>>(0);
};

struct SessionConfig {
  const std::vector<ServedQueue>* queues = nullptr;
  bool fast = false;
  bool loop = false;
  int nameTimeoutMs = 10000;
  int callSeconds = 0;  // 0: each client gets the whole file
  int callGapMs = 0;
};

// The longest queue-name line taken from a client.
constexpr size_t kMaxNameLine = 1024;

// Serves the connection `fd` from the client `peer` ("ADDR:PORT") until the
// audio ends, the client goes, or a stop; closes it and logs how it ended.
// REQUIRES: config.queues outlives the call.
void runSession(ScopedFd fd, const std::string& peer,
                const SessionConfig& config);

// Logs one line on stderr, prefixed with the program name; `text` goes
// through escapeForLine, so no name in it can split or forge a line.
void logLine(const std::string& text);

// `text` with every byte below 0x20 and 0x7F shown as an escape: \n, \r,
// \t, else \xHH. Other bytes are kept as they are.
std::string escapeForLine(const std::string& text);

}  // namespace tapd_emu
