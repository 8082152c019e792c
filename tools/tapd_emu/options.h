// The emulator's command line.
//
// Thread-safety: plain values and pure functions.
#pragma once

#include <string>
#include <vector>

#include "tools/tapd_emu/queue_setup.h"

namespace tapd_emu {

struct EmuOptions {
  // Loopback by default: the service hands call audio to whoever connects.
  std::string listenAddress = "127.0.0.1";
  int port = 20000;  // 0: any free port, printed at start
  std::vector<QueueSetup> queues;
  bool fast = false;  // send as fast as the client reads, not in real time
  bool loop = false;  // start the file again at its end
  int maxClients = 64;
  int nameTimeoutMs = 10000;  // for the client's queue-name line
  std::string writePath;      // set: write the queue's stream to this WAV
  // Call after call: each client of a queue gets the next callSeconds of
  // its audio (the file wrapping round), then the connection closes; 0:
  // the whole file (or, with --loop, without end).
  int callSeconds = 0;
  int callGapMs = 0;  // silence on the line before each call's audio
};

enum class ParseOutcome { kRun, kHelp, kUsageError };

// Parses argv[1..argc-1] into *options; on kUsageError *error says why.
ParseOutcome parseEmuOptions(int argc, char** argv, EmuOptions* options,
                             std::string* error);

// The usage text, ending in a newline.
std::string emuUsage(const char* program);

}  // namespace tapd_emu
