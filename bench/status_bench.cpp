// The cost of the status line: COUNT live recordings at once from one
// service, each with standard error on a pseudo-terminal of its own, run
// for SECONDS and then stopped with SIGINT; once with the status line and
// once with --no-status, alternating which goes first, ROUNDS times. CPU is
// user + system time of each recording process from wait4, in microseconds.
// Prints per mode the mean CPU share of a core per recording, and the
// difference and ratio of the two; a recording counts only when it ended
// with status 0 and its file holds at least SECONDS - 2 seconds of audio.
//
// Every child gets PR_SET_PDEATHSIG, and children still running at the
// deadline are killed by their ids: the benchmark ends by itself.
//
// Usage: status_bench HEARKENER PORT QUEUE COUNT SECONDS ROUNDS WORK_DIR
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Recording {
  pid_t pid = -1;
  int master = -1;
  std::string file;
  uint64_t ptyBytes = 0;
  int status = -1;
  int64_t cpuMicros = 0;
  bool reaped = false;
};

struct ModeResult {
  int64_t cpuMicros = 0;
  int counted = 0;
  uint64_t ptyBytes = 0;
};

int64_t micros(const timeval& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000000 + t.tv_usec;
}

Recording start(const std::string& hearkener, const std::string& port,
                const std::string& queue, const std::string& file,
                bool status) {
  Recording r;
  r.file = file;
  termios raw{};
  cfmakeraw(&raw);
  winsize size{};
  size.ws_col = 100;
  size.ws_row = 24;
  int slave = -1;
  if (openpty(&r.master, &slave, nullptr, &raw, &size) != 0) return r;
  std::vector<std::string> args = {hearkener, "-h", "127.0.0.1", "-p", port,
                                   "-q", queue, "-F", file};
  if (!status) args.push_back("--no-status");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  r.pid = fork();
  if (r.pid == 0) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(slave, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(slave);
  fcntl(r.master, F_SETFL, O_NONBLOCK);
  return r;
}

// Reads whatever the ptys hold; closes a pty at its end.
void drain(std::vector<Recording>* recordings, int timeoutMs) {
  std::vector<pollfd> fds;
  for (const Recording& r : *recordings) {
    if (r.master >= 0) fds.push_back({r.master, POLLIN, 0});
  }
  if (fds.empty() || poll(fds.data(), fds.size(), timeoutMs) <= 0) return;
  for (Recording& r : *recordings) {
    if (r.master < 0) continue;
    char bytes[4096];
    const ssize_t n = read(r.master, bytes, sizeof bytes);
    if (n > 0) {
      r.ptyBytes += static_cast<uint64_t>(n);
    } else if (n == 0 || errno != EAGAIN) {
      close(r.master);
      r.master = -1;
    }
  }
}

ModeResult runMode(const std::string& hearkener, const std::string& port,
                   const std::string& queue, int count, int seconds,
                   const std::string& work, bool status) {
  std::vector<Recording> recordings;
  for (int i = 0; i < count; ++i) {
    recordings.push_back(start(hearkener, port, queue,
                               work + "/rec" + std::to_string(i) + ".wav",
                               status));
  }
  const Clock::time_point stopAt = Clock::now() + std::chrono::seconds(seconds);
  while (Clock::now() < stopAt) drain(&recordings, 50);
  for (const Recording& r : recordings) {
    if (r.pid > 0) kill(r.pid, SIGINT);
  }
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
  int left = count;
  while (left > 0) {
    drain(&recordings, 10);
    int wstatus = 0;
    rusage usage{};
    const pid_t pid = wait4(-1, &wstatus, WNOHANG, &usage);
    if (pid > 0) {
      for (Recording& r : recordings) {
        if (r.pid != pid) continue;
        r.reaped = true;
        r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
        r.cpuMicros = micros(usage.ru_utime) + micros(usage.ru_stime);
        --left;
      }
    } else if (pid < 0) {
      break;
    } else if (Clock::now() > deadline) {
      for (const Recording& r : recordings) {
        if (!r.reaped && r.pid > 0) kill(r.pid, SIGKILL);
      }
    }
  }
  ModeResult result;
  const int64_t minimum = 58 + int64_t{16000} * (seconds - 2);
  for (Recording& r : recordings) {
    if (r.master >= 0) close(r.master);
    struct stat info {};
    const bool full = stat(r.file.c_str(), &info) == 0 && info.st_size >= minimum;
    if (r.status == 0 && full) {
      result.cpuMicros += r.cpuMicros;
      result.ptyBytes += r.ptyBytes;
      ++result.counted;
    } else {
      std::fprintf(stderr, "status_bench: recording %s: status %d, %s\n",
                   r.file.c_str(), r.status, full ? "full" : "short");
    }
    unlink(r.file.c_str());
  }
  return result;
}

// Mean CPU share of a core per recording, in per cent.
double sharePercent(const ModeResult& m, int seconds) {
  if (m.counted == 0) return 0;
  return 100.0 * static_cast<double>(m.cpuMicros) / m.counted /
         (seconds * 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 8) {
    std::fprintf(stderr,
                 "usage: status_bench HEARKENER PORT QUEUE COUNT SECONDS "
                 "ROUNDS WORK_DIR\n");
    return 2;
  }
  const std::string hearkener = argv[1];
  const std::string port = argv[2];
  const std::string queue = argv[3];
  const int count = std::atoi(argv[4]);
  const int seconds = std::atoi(argv[5]);
  const int rounds = std::atoi(argv[6]);
  const std::string work = argv[7];
  ModeResult with;
  ModeResult without;
  std::printf("%-6s %16s %16s %12s\n", "round", "status line", "--no-status",
              "difference");
  for (int round = 0; round < rounds; ++round) {
    ModeResult on;
    ModeResult off;
    if (round % 2 == 0) {
      on = runMode(hearkener, port, queue, count, seconds, work, true);
      off = runMode(hearkener, port, queue, count, seconds, work, false);
    } else {
      off = runMode(hearkener, port, queue, count, seconds, work, false);
      on = runMode(hearkener, port, queue, count, seconds, work, true);
    }
    std::printf("%-6d %15.4f%% %15.4f%% %11.4f%%   (%d + %d recordings)\n",
                round + 1, sharePercent(on, seconds),
                sharePercent(off, seconds),
                sharePercent(on, seconds) - sharePercent(off, seconds),
                on.counted, off.counted);
    std::fflush(stdout);
    with.cpuMicros += on.cpuMicros;
    with.counted += on.counted;
    with.ptyBytes += on.ptyBytes;
    without.cpuMicros += off.cpuMicros;
    without.counted += off.counted;
    without.ptyBytes += off.ptyBytes;
  }
  const double on = sharePercent(with, seconds);
  const double off = sharePercent(without, seconds);
  std::printf(
      "%d recordings at once, %d s, %d rounds: CPU per recording %.4f%% of a "
      "core with the status line, %.4f%% with --no-status; difference "
      "%.4f%% of a core, ratio %.3f\n",
      count, seconds, rounds, on, off, on - off, off > 0 ? on / off : 0.0);
  std::printf("terminal output per recording: %.0f bytes with, %.0f without\n",
              with.counted ? static_cast<double>(with.ptyBytes) / with.counted : 0.0,
              without.counted
                  ? static_cast<double>(without.ptyBytes) / without.counted
                  : 0.0);
  const bool allCounted =
      with.counted == count * rounds && without.counted == count * rounds;
  return allCounted ? 0 : 1;
}
