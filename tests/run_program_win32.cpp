// The optional peer tools of the tests on Windows: found on PATH and run
// through the command interpreter. Running the program under test is not
// provided here; its end-to-end tests are POSIX-only (run_program_posix.cpp)
// and scripts/test-windows.sh checks the Windows program instead.

#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/run_program.h"

namespace run_program {

bool toolAvailable(const std::string& program) {
  char found[MAX_PATH];
  return SearchPathA(nullptr, program.c_str(), ".exe", MAX_PATH, found,
                     nullptr) > 0;
}

// Standard error is not captured apart: it goes to the test's own.
RunResult runShell(const std::string& commandLine, int /*timeoutMs*/) {
  RunResult result;
  FILE* pipe = _popen(commandLine.c_str(), "rb");
  if (pipe == nullptr) return result;
  result.started = true;
  char buffer[4096];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
    result.out.append(buffer, got);
  }
  const int status = _pclose(pipe);
  result.exited = status != -1;
  result.exitStatus = status & 0xFF;
  return result;
}

}  // namespace run_program
