#include "tests/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace run_program {

namespace {

using Clock = std::chrono::steady_clock;

double millisSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start)
      .count();
}

// Closes the descriptor it holds.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void reset(int fd = -1) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

bool makePipe(Fd* readEnd, Fd* writeEnd) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  readEnd->reset(fds[0]);
  writeEnd->reset(fds[1]);
  return true;
}

// In the child between fork and exec: only async-signal-safe calls.
[[noreturn]] void execChild(char* const* argv, int outFd, int errFd,
                            int64_t fileSizeLimit) {
  setpgid(0, 0);  // its own group, so a time-out kills what it started too
  const int nullFd = open("/dev/null", O_RDONLY);
  if (nullFd < 0 || dup2(nullFd, 0) < 0 || dup2(outFd, 1) < 0 ||
      dup2(errFd, 2) < 0) {
    _exit(127);
  }
  struct sigaction dflt = {};
  dflt.sa_handler = SIG_DFL;
  for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGUSR1, SIGXFSZ}) {
    sigaction(s, &dflt, nullptr);
  }
  if (fileSizeLimit >= 0) {
    struct rlimit limit;
    limit.rlim_cur = static_cast<rlim_t>(fileSizeLimit);
    limit.rlim_max = static_cast<rlim_t>(fileSizeLimit);
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGXFSZ, &ignore, nullptr);
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execv(argv[0], argv);
  _exit(127);
}

// Appends what is readable on `fd` to `text`; returns false at end of file.
bool drain(int fd, std::string* text) {
  char buffer[4096];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
      text->append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) return true;
    return false;
  }
}

void killGroup(pid_t pid) {
  if (kill(-pid, SIGKILL) != 0) kill(pid, SIGKILL);
}

}  // namespace

RunResult runProgram(const std::vector<std::string>& args,
                     const RunOptions& options) {
  RunResult result;
  if (args.empty()) return result;
  std::vector<char*> argv;
  for (const std::string& arg : args)
    argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  Fd outRead, outWrite, errRead, errWrite;
  if (!makePipe(&outRead, &outWrite) || !makePipe(&errRead, &errWrite)) {
    return result;
  }
  const Clock::time_point start = Clock::now();
  const pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    execChild(argv.data(), outWrite.get(), errWrite.get(),
              options.fileSizeLimit);
  }
  setpgid(pid, pid);  // also here, so the group exists before exec
  result.started = true;
  outWrite.reset();
  errWrite.reset();
  fcntl(outRead.get(), F_SETFL, O_NONBLOCK);
  fcntl(errRead.get(), F_SETFL, O_NONBLOCK);

  bool outOpen = true;
  bool errOpen = true;
  bool signalled = false;
  bool repeated = false;
  bool killed = false;
  // Until both pipes reach end of file (the child and anything it started
  // have closed them), poll them, sending the signal when it is due.
  while (outOpen || errOpen) {
    const double now = millisSince(start);
    int waitMs = 100;
    if (options.signal != 0 && !signalled) {
      if (now >= options.signalDelayMs &&
          (!options.signalWhen || options.signalWhen())) {
        kill(pid, options.signal);
        signalled = true;
        result.signalSentMs = millisSince(start);
      } else if (now < options.signalDelayMs) {
        waitMs = std::max(1, static_cast<int>(options.signalDelayMs - now));
        waitMs = std::min(waitMs, 100);
      } else {
        waitMs = 2;  // polling signalWhen
      }
    }
    if (signalled && !repeated && options.repeatSignalAfterMs > 0) {
      const double due = result.signalSentMs + options.repeatSignalAfterMs;
      if (now >= due) {
        kill(pid, options.signal);
        repeated = true;
      } else {
        waitMs = std::min(waitMs, std::max(1, static_cast<int>(due - now)));
      }
    }
    if (!killed && now >= options.timeoutMs) {
      killGroup(pid);
      killed = true;
      result.timedOut = true;
    }
    struct pollfd fds[2];
    nfds_t count = 0;
    if (outOpen) fds[count++] = {outRead.get(), POLLIN, 0};
    if (errOpen) fds[count++] = {errRead.get(), POLLIN, 0};
    const int ready = poll(fds, count, waitMs);
    if (ready < 0 && errno != EINTR) break;
    if (outOpen) outOpen = drain(outRead.get(), &result.out);
    if (errOpen) errOpen = drain(errRead.get(), &result.err);
  }
  result.endedMs = millisSince(start);

  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) return result;
    if (!killed && millisSince(start) >= options.timeoutMs) {
      killGroup(pid);
      killed = true;
      result.timedOut = true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (WIFEXITED(status)) {
    result.exited = true;
    result.exitStatus = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.termSignal = WTERMSIG(status);
  }
  return result;
}

bool toolAvailable(const std::string& program) {
  const char* path = getenv("PATH");
  std::string paths = path != nullptr ? path : "/usr/bin:/bin";
  size_t begin = 0;
  while (begin <= paths.size()) {
    size_t end = paths.find(':', begin);
    if (end == std::string::npos) end = paths.size();
    const std::string dir = paths.substr(begin, end - begin);
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    begin = end + 1;
  }
  return false;
}

RunResult runShell(const std::string& commandLine, int timeoutMs) {
  RunOptions options;
  options.timeoutMs = timeoutMs;
  return runProgram({"/bin/sh", "-c", commandLine}, options);
}

}  // namespace run_program
