// Runs a program as a child process for end-to-end tests: captures its
// standard output and standard error, optionally sends it a signal during
// the run, and reports how and when it ended.
//
// Thread-safety: runProgram may be called from several threads at once; each
// call owns its child and pipes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace run_program {

struct RunOptions {
  // Signal to send during the run (0: none). It is sent once, at the first
  // moment that is at least `signalDelayMs` after the start and at which
  // `signalWhen` (if given) returns true; `signalWhen` is polled every few
  // milliseconds, so it should be cheap.
  int signal = 0;
  int signalDelayMs = 0;
  std::function<bool()> signalWhen;
  // A second send of the same signal this long after the first (0: none).
  int repeatSignalAfterMs = 0;
  // The child is killed with SIGKILL when it has not ended by then.
  int timeoutMs = 30000;
  // When >= 0: the child's RLIMIT_FSIZE, with SIGXFSZ ignored, so that a
  // write past the limit fails with EFBIG instead of killing the child.
  int64_t fileSizeLimit = -1;
};

struct RunResult {
  bool started = false;   // false when the child could not be created
  bool exited = false;    // ended through exit (not by a signal)
  int exitStatus = -1;    // the status as the shell sees it, 0 to 255
  int termSignal = 0;     // the signal that ended it, when !exited
  bool timedOut = false;  // killed after RunOptions::timeoutMs
  std::string out;        // everything written to standard output
  std::string err;        // everything written to standard error
  // Milliseconds from the start: when the signal was sent (-1: never) and
  // when the child closed its output, i.e. ended.
  double signalSentMs = -1;
  double endedMs = -1;
};

// Runs argv[0] (a path, no PATH search) with argv as its argument vector,
// standard input from /dev/null, the default disposition of the stop
// signals and an empty signal mask. Waits for it to end.
RunResult runProgram(const std::vector<std::string>& argv,
                     const RunOptions& options = RunOptions());

// The status the shell shows for a program's signed 32-bit exit code.
inline int shellStatus(int32_t code) { return code & 0xFF; }

// True when `program` can be found on PATH (for optional peer tools).
bool toolAvailable(const std::string& program);

// Runs a shell command line through /bin/sh -c. Returns its result.
RunResult runShell(const std::string& commandLine, int timeoutMs = 60000);

}  // namespace run_program
