// Throughput and CPU cost of live stream input, end to end: the program
// runs as a child process against a loopback server on ::1 that plays the
// recording service, and records into a WAV file.
//
// Scenarios:
//   flood      the service sends AUDIO_SECONDS of A-law (default 600, ten
//              minutes: 9.6 MB) as fast as it can, after the queue
//              exchange; `hearkener -q sales -F out.wav` records it. Compared
//              with a plain `cat` of the same bytes from the same server
//              (bash's /dev/tcp redirection, cat writing to a file).
//              Figure: throughput of each and their ratio, best of RUNS.
//   real-time  the service sends PACED_SECONDS (default 20) at the real rate
//              of 8000 frames per second, 320 bytes every 20 ms. Figures:
//              the program's CPU time (user + system) per second of audio,
//              as a share of one core, for the whole run and for streaming
//              alone (the difference to a run of a tenth of the length,
//              which removes the fixed start-up cost).
// The timed span of a flood run starts when the server accepts the
// connection (process start-up is not counted) and ends when the child has
// exited (its output written and closed).
//
// Usage: stream_bench HEARKENER [AUDIO_SECONDS] [PACED_SECONDS] [RUNS]
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBytesPerSecond = 16000;  // 8000 two-byte frames
constexpr int kPacedBlock = 320;        // 20 ms
constexpr long kPacedPeriodNs = 20000000;
const char kList[] = "queue1\r\nsales\r\n[End]\r\n";

struct Listener {
  int descriptor = -1;
  int port = 0;
};

Listener listenOnIpv6Loopback() {
  Listener listener;
  listener.descriptor = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in6 address{};
  address.sin6_family = AF_INET6;
  address.sin6_addr = in6addr_loopback;
  socklen_t length = sizeof(address);
  if (listener.descriptor < 0 ||
      bind(listener.descriptor, reinterpret_cast<sockaddr*>(&address),
           length) != 0 ||
      listen(listener.descriptor, 4) != 0 ||
      getsockname(listener.descriptor, reinterpret_cast<sockaddr*>(&address),
                  &length) != 0) {
    std::perror("listen on ::1");
    std::exit(2);
  }
  listener.port = ntohs(address.sin6_port);
  return listener;
}

bool sendAll(int descriptor, const uint8_t* bytes, size_t length) {
  while (length > 0) {
    const ssize_t sent = send(descriptor, bytes, length, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes += sent;
    length -= static_cast<size_t>(sent);
  }
  return true;
}

// Reads the client's "sales\r\n" (bounded wait).
void receiveQueueName(int descriptor) {
  std::string name;
  char buffer[64];
  while (name.find("\r\n") == std::string::npos) {
    pollfd entry{descriptor, POLLIN, 0};
    if (poll(&entry, 1, 10000) <= 0) break;
    const ssize_t got = recv(descriptor, buffer, sizeof(buffer), 0);
    if (got <= 0) break;
    name.append(buffer, static_cast<size_t>(got));
  }
}

pid_t spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const std::string& arg : args) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t child = -1;
  if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) !=
      0) {
    std::perror(argv[0]);
    std::exit(2);
  }
  posix_spawn_file_actions_destroy(&actions);
  return child;
}

struct ChildEnd {
  int status = -1;
  double cpuSeconds = 0;
  Clock::time_point at;
};

ChildEnd waitChild(pid_t child) {
  ChildEnd end;
  rusage usage{};
  wait4(child, &end.status, 0, &usage);
  end.at = Clock::now();
  end.cpuSeconds = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 +
                   usage.ru_stime.tv_sec + usage.ru_stime.tv_usec / 1e6;
  return end;
}

struct FloodRun {
  double seconds = 0;
  bool ok = false;
};

// One flood run of `client`, whose arguments name the server's port as
// PORT.
FloodRun flood(const std::vector<uint8_t>& audio, bool exchange,
               const std::vector<std::string>& client,
               const std::string& output) {
  Listener listener = listenOnIpv6Loopback();
  std::vector<std::string> args = client;
  for (std::string& arg : args) {
    const size_t at = arg.find("PORT");
    if (at != std::string::npos) {
      arg.replace(at, 4, std::to_string(listener.port));
    }
  }
  std::atomic<bool> accepted{false};
  Clock::time_point start;
  std::thread server([&] {
    pollfd entry{listener.descriptor, POLLIN, 0};
    if (poll(&entry, 1, 20000) <= 0) return;
    const int connection =
        accept4(listener.descriptor, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) return;
    start = Clock::now();
    accepted.store(true);
    if (exchange) {
      sendAll(connection, reinterpret_cast<const uint8_t*>(kList),
              sizeof(kList) - 1);
      receiveQueueName(connection);
    }
    sendAll(connection, audio.data(), audio.size());
    shutdown(connection, SHUT_WR);
    close(connection);
  });
  const pid_t child = spawn(args);
  const ChildEnd end = waitChild(child);
  server.join();
  close(listener.descriptor);
  FloodRun run;
  struct stat info {};
  const bool complete = stat(output.c_str(), &info) == 0 &&
                        static_cast<size_t>(info.st_size) >= audio.size();
  run.ok = accepted.load() && WIFEXITED(end.status) &&
           WEXITSTATUS(end.status) == 0 && complete;
  run.seconds = std::chrono::duration<double>(end.at - start).count();
  return run;
}

double best(const std::vector<FloodRun>& runs) {
  double fastest = 0;
  for (const FloodRun& run : runs) {
    if (run.ok && (fastest == 0 || run.seconds < fastest))
      fastest = run.seconds;
  }
  return fastest;
}

// The program's CPU seconds for `seconds` of audio sent at the real rate.
double realTimeCpu(const std::string& hearkener, int seconds,
                   const std::string& output) {
  Listener listener = listenOnIpv6Loopback();
  std::thread server([&] {
    pollfd entry{listener.descriptor, POLLIN, 0};
    if (poll(&entry, 1, 20000) <= 0) return;
    const int connection =
        accept4(listener.descriptor, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) return;
    sendAll(connection, reinterpret_cast<const uint8_t*>(kList),
            sizeof(kList) - 1);
    receiveQueueName(connection);
    std::vector<uint8_t> block(kPacedBlock);
    for (int i = 0; i < kPacedBlock; ++i) block[i] = static_cast<uint8_t>(i);
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    const int blocks = seconds * kBytesPerSecond / kPacedBlock;
    for (int i = 0; i < blocks; ++i) {
      if (!sendAll(connection, block.data(), block.size())) break;
      next.tv_nsec += kPacedPeriodNs;
      if (next.tv_nsec >= 1000000000L) {
        next.tv_nsec -= 1000000000L;
        ++next.tv_sec;
      }
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    close(connection);
  });
  const pid_t child = spawn({hearkener, "-q", "sales", "-h", "::1", "-p",
                             std::to_string(listener.port), "-F", output});
  const ChildEnd end = waitChild(child);
  server.join();
  close(listener.descriptor);
  if (!WIFEXITED(end.status) || WEXITSTATUS(end.status) != 0) {
    std::fprintf(stderr, "real-time run failed (status %d)\n", end.status);
  }
  return end.cpuSeconds;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: %s HEARKENER [AUDIO_SECONDS] [PACED_SECONDS] "
                 "[RUNS]\n",
                 argv[0]);
    return 2;
  }
  const std::string hearkener = argv[1];
  const int audioSeconds = argc > 2 ? std::atoi(argv[2]) : 600;
  const int pacedSeconds = argc > 3 ? std::max(2, std::atoi(argv[3])) : 20;
  const int runs = argc > 4 ? std::max(1, std::atoi(argv[4])) : 5;
  char folder[] = "/tmp/stream-bench-XXXXXX";
  if (mkdtemp(folder) == nullptr) {
    std::perror("mkdtemp");
    return 2;
  }
  const std::string wav = std::string(folder) + "/out.wav";
  const std::string raw = std::string(folder) + "/out.raw";

  std::vector<uint8_t> audio(static_cast<size_t>(audioSeconds) *
                             kBytesPerSecond);
  uint32_t state = 1;
  for (uint8_t& byte : audio) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(state >> 24);
  }

  std::vector<FloodRun> program;
  std::vector<FloodRun> plain;
  for (int i = 0; i < runs; ++i) {
    program.push_back(flood(
        audio, true,
        {hearkener, "-q", "sales", "-h", "::1", "-p", "PORT", "-F", wav}, wav));
    plain.push_back(
        flood(audio, false,
              {"/bin/bash", "-c", "exec cat </dev/tcp/::1/PORT >" + raw}, raw));
  }
  const double programSeconds = best(program);
  const double plainSeconds = best(plain);
  const double megabytes = audio.size() / 1e6;
  std::printf("flood: %d s of audio (%.1f MB), best of %d runs\n", audioSeconds,
              megabytes, runs);
  if (programSeconds <= 0 || plainSeconds <= 0) {
    std::printf("  a run failed (program ok: %d, cat ok: %d)\n",
                programSeconds > 0, plainSeconds > 0);
  } else {
    std::printf("  hearkener -F : %8.1f ms  %8.1f MB/s  (%.0fx real time)\n",
                programSeconds * 1e3, megabytes / programSeconds,
                audioSeconds / programSeconds);
    std::printf("  plain cat    : %8.1f ms  %8.1f MB/s\n", plainSeconds * 1e3,
                megabytes / plainSeconds);
    std::printf("  throughput ratio hearkener / cat: %.2f (goal >= 0.5)\n",
                plainSeconds / programSeconds);
  }

  // The process start-up (loading the codec libraries) costs tens of
  // milliseconds of CPU once; a short paced run measures it together with
  // the connect and exchange, so the difference is the cost of streaming.
  const int shortSeconds = std::max(1, pacedSeconds / 10);  // < pacedSeconds
  const double shortCpu = realTimeCpu(hearkener, shortSeconds, wav);
  const double cpu = realTimeCpu(hearkener, pacedSeconds, wav);
  const double steady = (cpu - shortCpu) / (pacedSeconds - shortSeconds);
  std::printf("real-time: %d s of audio at 8000 frames/s\n", pacedSeconds);
  std::printf(
      "  whole run, start-up included: %.1f ms CPU per second of "
      "audio = %.3f%% of a core\n",
      cpu * 1e3 / pacedSeconds, cpu * 100 / pacedSeconds);
  std::printf(
      "  streaming (%d s run minus %d s run): %.2f ms CPU per second "
      "of audio = %.3f%% of a core (goal < 0.5%%)\n",
      pacedSeconds, shortSeconds, steady * 1e3, steady * 100);
  unlink(wav.c_str());
  unlink(raw.c_str());
  rmdir(folder);
  return 0;
}
