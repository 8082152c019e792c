#include "tools/tapd_emu/stop_signal.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tapd_emu {
namespace {

int pipeFds[2] = {-1, -1};

void onStopSignal(int) {
  const int saved = errno;
  const char byte = 's';
  // Async-signal-safe; a full pipe is readable already.
  [[maybe_unused]] const ssize_t n = write(pipeFds[1], &byte, 1);
  errno = saved;
}

}  // namespace

std::string installStopSignals() {
  if (pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
    return std::string("could not create the stop pipe: ") + strerror(errno);
  }
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  if (sigaction(SIGINT, &action, nullptr) != 0 ||
      sigaction(SIGTERM, &action, nullptr) != 0 ||
      sigaction(SIGPIPE, &ignore, nullptr) != 0) {
    return std::string("could not install the signal handlers: ") +
           strerror(errno);
  }
  return "";
}

int stopFd() { return pipeFds[0]; }

bool stopRequested() {
  pollfd entry{pipeFds[0], POLLIN, 0};
  return poll(&entry, 1, 0) > 0;
}

}  // namespace tapd_emu
