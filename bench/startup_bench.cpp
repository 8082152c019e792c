// Start-up cost and footprint of the program, each figure beside a peer run
// by this same benchmark:
//   1 convert   CPU (user + system, from wait4) of `hearkener -i CALL -F out`
//               on a 60 s A-law stereo call, against `sox CALL out`; medians
//               of RUNS runs each, interleaved.
//   2 footprint peak RSS and shared objects mapped by that conversion, and
//               by sox's.
//   3 live      one `hearkener -h 127.0.0.1 -p PORT -q queue1 -r -F out`
//               recording a framed call (direction 0 GSM, direction 1
//               G.729A, payloads from the real encoders, one frame of each
//               per 20 ms, paced at the real rate) for LIVE_SECONDS from a
//               loopback server: peak RSS, shared objects, CPU share of a
//               core; the peer is bash + cat recording the same bytes.
//   4 many      MANY such recordings at once for MANY_SECONDS, one server
//               thread per connection: CPU share and peak RSS per process,
//               median and max; the same for MANY cat recorders.
//   5 big       `hearkener -i BIG -F out` against `cat BIG > out` and
//               `sox BIG out`: wall time, medians of BIG_RUNS runs.
//
// Peak RSS is VmHWM of the child's own address space, read from
// /proc/PID/status at the child's exit stop (ptrace PTRACE_EVENT_EXIT: the
// process has finished but its memory is still mapped). ru_maxrss is printed
// beside it as a cross-check but is not the figure: exec keeps the maximum
// of the address space it replaces, and a child forked from this
// multi-threaded benchmark starts with a copy of the benchmark's pages.
// Shared objects are the distinct paths ending in ".so" or containing ".so."
// in /proc/PID/maps, read at the same exit stop (every library the run
// loaded, dlopen'ed ones included, unless it was unloaded again) and, for
// live runs, also half-way through; the figure is the size of the union.
// Only the traced main thread stops; the program's own threads are not
// traced, so its timing is left alone apart from one stop at exec and one
// at exit. CPU figures come from untraced runs where a median is asked for.
//
// Every child gets PR_SET_PDEATHSIG and PTRACE_O_EXITKILL, every wait has a
// deadline after which the children still running are killed by their ids,
// and every server thread stops at a deadline: the benchmark ends by itself.
//
// Usage: startup_bench HEARKENER SOX CALL_WAV BIG_WAV WORK_DIR
//                      [RUNS] [LIVE_SECONDS] [MANY] [MANY_SECONDS] [BIG_RUNS]
//        (defaults: 11 runs, 10 s, 50 recordings, 20 s, 5 runs)
#include <arpa/inet.h>
#include <fcntl.h>
#include <gsm.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
extern "C" {
#include <bcg729/encoder.h>
}

#include "tests/framed_stream.h"

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

constexpr int kGsmType = 4;   // 33-byte units of 160 samples
constexpr int kG729Type = 9;  // 10-byte units of 80 samples
constexpr long kFramePeriodNs = 20000000;
constexpr char kQueue[] = "queue1";
constexpr double kPi = 3.14159265358979323846;

double seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }

// ---------------------------------------------------------------- children

struct ChildPlan {
  std::vector<std::string> argv;
  std::string stdoutPath = "/dev/null";  // truncated
  std::string stderrPath = "/dev/null";  // truncated
  bool trace = false;
  // A run counts only when this file then holds at least this many bytes.
  std::string output;
  long long minOutputBytes = 0;
};

struct ChildResult {
  pid_t pid = -1;
  int status = -1;
  bool killed = false;  // by the deadline
  double cpu = 0;       // user + system, seconds
  double wall = 0;      // fork to reaped, seconds
  long maxrssKiB = 0;   // ru_maxrss
  long hwmKiB = -1;     // VmHWM at the exit stop; -1 when not traced
  std::set<std::string> objects;
  Clock::time_point started;
  std::string output;
  long long minOutputBytes = 0;
  bool outputShort = false;
  bool ok() const {
    return !killed && !outputShort && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
  }
};

// Forks and execs `plan`. The child dies with this process; when traced it
// stops at its exec, which startChildren consumes.
pid_t forkChild(const ChildPlan& plan) {
  std::vector<char*> argv;
  for (const std::string& arg : plan.argv) {
    argv.push_back(const_cast<char*>(arg.c_str()));
  }
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    // Only async-signal-safe calls from here on.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int in = open("/dev/null", O_RDONLY);
    const int out =
        open(plan.stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err =
        open(plan.stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
        dup2(err, 2) < 0) {
      _exit(126);
    }
    if (plan.trace && ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
      _exit(126);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
  if (pid < 0) {
    std::perror("fork");
    std::exit(2);
  }
  return pid;
}

bool isSharedObject(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string base = path.substr(slash == std::string::npos ? 0 : slash);
  const size_t at = base.find(".so");
  return at != std::string::npos &&
         (at + 3 == base.size() || base[at + 3] == '.');
}

void addMappedObjects(pid_t pid, std::set<std::string>* objects) {
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  std::string line;
  while (std::getline(maps, line)) {
    const size_t slash = line.find('/');
    if (slash == std::string::npos) continue;
    std::string path = line.substr(slash);
    const size_t deleted = path.find(" (deleted)");
    if (deleted != std::string::npos) path.erase(deleted);
    if (isSharedObject(path)) objects->insert(path);
  }
}

long readHwmKiB(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// Children started together and reaped together, traced or not.
class ChildGroup {
 public:
  void start(const std::vector<ChildPlan>& plans) {
    for (const ChildPlan& plan : plans) {
      ChildResult result;
      result.output = plan.output;
      result.minOutputBytes = plan.minOutputBytes;
      result.started = Clock::now();
      result.pid = forkChild(plan);
      bool gone = false;
      if (plan.trace) {
        // The stop at exec (or the end of a child that failed before it);
        // then ask for the exit stop.
        int status = 0;
        rusage usage{};
        if (wait4(result.pid, &status, __WALL, &usage) == result.pid) {
          if (WIFSTOPPED(status)) {
            ptrace(PTRACE_SETOPTIONS, result.pid, nullptr,
                   reinterpret_cast<void*>(PTRACE_O_TRACEEXIT |
                                           PTRACE_O_TRACEEXEC |
                                           PTRACE_O_EXITKILL));
            ptrace(PTRACE_CONT, result.pid, nullptr, nullptr);
          } else {
            result.status = status;
            gone = true;
          }
        }
      }
      std::lock_guard<std::mutex> lock(mutex_);
      if (gone) reaped_.insert(result.pid);
      index_[result.pid] = results_.size();
      results_.push_back(result);
    }
  }

  // Adds the shared objects every running child maps now.
  void sampleObjects() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (ChildResult& r : results_) {
      if (!reaped_.count(r.pid)) addMappedObjects(r.pid, &r.objects);
    }
  }

  // Reaps every child, killing those still running at `deadline`. Calls
  // `midway` once at `midwayAt` when given.
  std::vector<ChildResult> reap(Clock::time_point deadline,
                                Clock::time_point midwayAt = {}) {
    bool midwayDone = midwayAt == Clock::time_point{};
    while (reaped_.size() < results_.size()) {
      int status = 0;
      rusage usage{};
      const pid_t pid = wait4(-1, &status, __WALL | WNOHANG, &usage);
      if (pid < 0) break;
      if (pid == 0) {
        const Clock::time_point now = Clock::now();
        if (!midwayDone && now >= midwayAt) {
          sampleObjects();
          midwayDone = true;
        }
        if (now >= deadline) killRemaining();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        continue;
      }
      auto found = index_.find(pid);
      if (found == index_.end()) continue;
      ChildResult& r = results_[found->second];
      if (WIFSTOPPED(status)) {
        const int event = status >> 16;
        int inject = 0;
        if (event == PTRACE_EVENT_EXIT) {
          r.hwmKiB = readHwmKiB(pid);
          addMappedObjects(pid, &r.objects);
        } else if (event == 0 && WSTOPSIG(status) != SIGTRAP) {
          inject = WSTOPSIG(status);
        }
        ptrace(PTRACE_CONT, pid, nullptr,
               reinterpret_cast<void*>(static_cast<long>(inject)));
        continue;
      }
      r.status = status;
      r.wall = std::chrono::duration<double>(Clock::now() - r.started).count();
      r.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
      r.maxrssKiB = usage.ru_maxrss;
      if (!r.output.empty()) {
        struct stat info {};
        r.outputShort = stat(r.output.c_str(), &info) != 0 ||
                        info.st_size < r.minOutputBytes;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      reaped_.insert(pid);
    }
    return results_;
  }

 private:
  void killRemaining() {
    for (ChildResult& r : results_) {
      if (!reaped_.count(r.pid) && !r.killed) {
        kill(r.pid, SIGKILL);
        r.killed = true;
      }
    }
  }

  std::mutex mutex_;
  std::vector<ChildResult> results_;
  std::map<pid_t, size_t> index_;
  std::set<pid_t> reaped_;
};

long long fileSize(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 ? info.st_size : -1;
}

ChildPlan commandPlan(std::vector<std::string> argv, bool trace = false,
                      std::string stdoutPath = "/dev/null") {
  ChildPlan plan;
  plan.argv = std::move(argv);
  plan.trace = trace;
  plan.stdoutPath = std::move(stdoutPath);
  return plan;
}

// The plan of `hearkener -i input -F output`, which must copy the audio.
ChildPlan convertPlan(const std::string& hearkener, const std::string& input,
                      const std::string& output, bool trace) {
  ChildPlan plan;
  plan.argv = {hearkener, "-i", input, "-F", output};
  plan.trace = trace;
  plan.output = output;
  plan.minOutputBytes = fileSize(input) - 1024;
  return plan;
}

ChildResult runOne(const ChildPlan& plan, double timeoutSeconds) {
  ChildGroup group;
  group.start({plan});
  return group.reap(Clock::now() + std::chrono::milliseconds(static_cast<long>(
                                       timeoutSeconds * 1000)))[0];
}

// ------------------------------------------------------------ framed call

// Encodes `seconds` of a speech-like test signal per direction (two
// partials under a syllable-rate envelope, plus a little noise) into mode-7
// frames: per 20 ms, one GSM unit for direction 0 and two G.729A units for
// direction 1. Appends each 20 ms of the stream to `chunks`.
void encodeCall(int seconds, std::vector<Bytes>* chunks) {
  gsm gsmEncoder = gsm_create();
  bcg729EncoderChannelContextStruct* g729Encoder =
      initBcg729EncoderChannel(0);  // VAD off: every unit 10 bytes
  if (gsmEncoder == nullptr || g729Encoder == nullptr) {
    std::fprintf(stderr, "encoder creation failed\n");
    std::exit(2);
  }
  uint32_t noise = 12345;
  auto sample = [&noise](int n, double f1, double f2) {
    const double t = n / 8000.0;
    const double envelope = 0.55 + 0.45 * std::sin(2 * kPi * 3.7 * t);
    noise = noise * 1664525u + 1013904223u;
    const double hiss = (static_cast<int32_t>(noise >> 16) - 32768) / 32.0;
    return static_cast<int16_t>(envelope * (7000 * std::sin(2 * kPi * f1 * t) +
                                            2500 * std::sin(2 * kPi * f2 * t)) +
                                hiss);
  };
  const int frames = seconds * 50;
  for (int f = 0; f < frames; ++f) {
    gsm_signal a[160];
    int16_t b[160];
    for (int i = 0; i < 160; ++i) {
      a[i] = sample(f * 160 + i, 210, 1300);
      b[i] = sample(f * 160 + i, 330, 2100);
    }
    Bytes gsmUnit(33);
    gsm_encode(gsmEncoder, a, gsmUnit.data());
    Bytes g729Units(20);
    uint8_t length = 0;
    bcg729Encoder(g729Encoder, b, g729Units.data(), &length);
    bcg729Encoder(g729Encoder, b + 80, g729Units.data() + 10, &length);
    Bytes chunk;
    framed::appendFrame(chunk, framed::typedFrame(0, kGsmType, gsmUnit), 7);
    framed::appendFrame(chunk, framed::typedFrame(1, kG729Type, g729Units), 7);
    chunks->push_back(std::move(chunk));
  }
  gsm_destroy(gsmEncoder);
  closeBcg729EncoderChannel(g729Encoder);
}

// ---------------------------------------------------------- loopback server

bool sendAll(int descriptor, const uint8_t* bytes, size_t length) {
  while (length > 0) {
    const ssize_t sent = send(descriptor, bytes, length, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes += sent;
    length -= static_cast<size_t>(sent);
  }
  return true;
}

// Plays the service for `expected` connections on 127.0.0.1: the queue
// list, the client's queue name, then the framed call paced at 20 ms per
// chunk, a closing flag, and an orderly close once the client has closed.
// Every wait is bounded by `deadline`.
class CallServer {
 public:
  CallServer(const std::vector<Bytes>& chunks, int expected,
             Clock::time_point deadline)
      : chunks_(chunks), expected_(expected), deadline_(deadline) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (listener_ < 0 ||
        bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 128) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address),
                    &length) != 0) {
      std::perror("listen on 127.0.0.1");
      std::exit(2);
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptAll(); });
  }

  ~CallServer() {
    stop_.store(true);
    acceptor_.join();
    for (std::thread& stream : streams_) stream.join();
    close(listener_);
  }

  int port() const { return port_; }
  int streamed() const { return streamed_.load(); }

 private:
  bool pastDeadline() const { return stop_.load() || Clock::now() > deadline_; }

  void acceptAll() {
    int accepted = 0;
    while (accepted < expected_ && !pastDeadline()) {
      pollfd entry{listener_, POLLIN, 0};
      if (poll(&entry, 1, 100) <= 0) continue;
      const int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (connection < 0) continue;
      ++accepted;
      streams_.emplace_back([this, connection] { stream(connection); });
    }
  }

  // Waits for readable data or the peer's close, at most until the deadline.
  // Returns the bytes read; 0 on close, -1 on failure or timeout.
  ssize_t receiveSome(int connection, char* buffer, size_t size) {
    while (!pastDeadline()) {
      pollfd entry{connection, POLLIN, 0};
      const int ready = poll(&entry, 1, 100);
      if (ready < 0) return -1;
      if (ready == 0) continue;
      return recv(connection, buffer, size, 0);
    }
    return -1;
  }

  void stream(int connection) {
    const std::string list = std::string(kQueue) + "\r\n[End]\r\n";
    std::string name;
    bool ok = sendAll(connection, reinterpret_cast<const uint8_t*>(list.data()),
                      list.size());
    char buffer[256];
    while (ok && name.find("\r\n") == std::string::npos) {
      const ssize_t got = receiveSome(connection, buffer, sizeof(buffer));
      if (got <= 0)
        ok = false;
      else
        name.append(buffer, static_cast<size_t>(got));
    }
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (size_t i = 0; ok && i < chunks_.size() && !pastDeadline(); ++i) {
      ok = sendAll(connection, chunks_[i].data(), chunks_[i].size());
      next.tv_nsec += kFramePeriodNs;
      if (next.tv_nsec >= 1000000000L) {
        next.tv_nsec -= 1000000000L;
        ++next.tv_sec;
      }
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    if (ok) {
      const uint8_t flag = framed::kFlag;
      ok = sendAll(connection, &flag, 1);
      if (ok) ++streamed_;
    }
    shutdown(connection, SHUT_WR);
    while (receiveSome(connection, buffer, sizeof(buffer)) > 0) {
    }
    close(connection);
  }

  const std::vector<Bytes>& chunks_;
  const int expected_;
  const Clock::time_point deadline_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> streamed_{0};
  std::thread acceptor_;
  std::vector<std::thread> streams_;  // only the acceptor touches it
};

// ----------------------------------------------------------------- figures

double median(std::vector<double> values) {
  if (values.empty()) return NAN;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double maxOf(const std::vector<double>& values) {
  return values.empty() ? NAN : *std::max_element(values.begin(), values.end());
}

struct Row {
  std::string figure;
  std::string ours;
  std::string peer;
  std::string ratio;
  std::string goal;
  std::string verdict;
};

std::string format(const char* pattern, double value) {
  char text[64];
  std::snprintf(text, sizeof(text), pattern, value);
  return text;
}

std::string mib(double kib) { return format("%.2f MiB", kib / 1024); }

std::string verdict(bool met) { return met ? "met" : "MISSED"; }

struct Live {
  std::vector<ChildResult> ours;
  std::vector<ChildResult> peer;
  int streamedOurs = 0;
  int streamedPeer = 0;
};

// `count` recordings of the framed call at once by the program, then by
// bash + cat.
Live recordLive(const std::string& hearkener, const std::string& work,
                const std::vector<Bytes>& chunks, int count, int seconds) {
  Live live;
  for (int peerRun = 0; peerRun < 2; ++peerRun) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds + 30);
    CallServer server(chunks, count, deadline);
    const std::string port = std::to_string(server.port());
    std::vector<ChildPlan> plans;
    for (int i = 0; i < count; ++i) {
      ChildPlan plan;
      plan.trace = true;
      const std::string stem =
          work + (peerRun == 0 ? "/live" : "/cat") + std::to_string(i);
      plan.stderrPath = stem + ".err";
      if (peerRun == 0) {
        plan.argv = {hearkener, "-h",   "127.0.0.1", "-p", port,
                     "-q",      kQueue, "-r",        "-F", stem + ".wav"};
        plan.output = stem + ".wav";
        // Two channels of A-law at 8000 frames per second, less a margin;
        // the content is not checked.
        plan.minOutputBytes = static_cast<long long>(seconds) * 16000 * 9 / 10;
      } else {
        plan.argv = {"/bin/bash", "-c",
                     "exec 3<>/dev/tcp/127.0.0.1/" + port + " && printf '" +
                         kQueue + "\\r\\n' >&3 && exec cat <&3 >" + stem +
                         ".raw"};
      }
      plans.push_back(plan);
    }
    ChildGroup group;
    group.start(plans);
    auto results = group.reap(
        deadline, Clock::now() + std::chrono::milliseconds(seconds * 500));
    (peerRun == 0 ? live.ours : live.peer) = results;
    (peerRun == 0 ? live.streamedOurs : live.streamedPeer) = server.streamed();
  }
  return live;
}

void printChildFailures(const char* what, const std::vector<ChildResult>& all,
                        const std::string& work) {
  int failed = 0;
  for (size_t i = 0; i < all.size(); ++i) {
    if (all[i].ok()) continue;
    if (++failed > 3) continue;
    std::fprintf(stderr,
                 "%s: child %zu failed (status 0x%x%s); see %s/live%zu.err\n",
                 what, i, all[i].status,
                 all[i].killed ? ", killed at deadline" : "", work.c_str(), i);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr,
                 "usage: %s HEARKENER SOX CALL_WAV BIG_WAV WORK_DIR [RUNS] "
                 "[LIVE_SECONDS] [MANY] [MANY_SECONDS] [BIG_RUNS]\n",
                 argv[0]);
    return 2;
  }
  const std::string hearkener = argv[1];
  const std::string sox = argv[2];
  const std::string call = argv[3];
  const std::string big = argv[4];
  const std::string work = argv[5];
  const int runs = argc > 6 ? std::max(1, std::atoi(argv[6])) : 11;
  const int liveSeconds = argc > 7 ? std::max(2, std::atoi(argv[7])) : 10;
  const int many = argc > 8 ? std::max(1, std::atoi(argv[8])) : 50;
  const int manySeconds = argc > 9 ? std::max(2, std::atoi(argv[9])) : 20;
  const int bigRuns = argc > 10 ? std::max(1, std::atoi(argv[10])) : 5;
  signal(SIGPIPE, SIG_IGN);
  std::vector<Row> rows;
  bool allRan = true;

  // 1: CPU of the 60 s conversion, interleaved with sox's.
  const std::string out = work + "/out.wav";
  const std::string soxOut = work + "/sox-out.wav";
  std::vector<double> ourCpu;
  std::vector<double> soxCpu;
  for (int i = 0; i < runs; ++i) {
    unlink(out.c_str());
    const ChildResult a = runOne(convertPlan(hearkener, call, out, false), 60);
    unlink(soxOut.c_str());
    const ChildResult b = runOne(commandPlan({sox, call, soxOut}), 60);
    if (a.ok()) ourCpu.push_back(a.cpu);
    if (b.ok()) soxCpu.push_back(b.cpu);
    allRan = allRan && a.ok() && b.ok();
  }
  const double cpuRatio = median(ourCpu) / median(soxCpu);
  rows.push_back(
      {"1 convert 60 s call: CPU (median of " + std::to_string(runs) + ")",
       format("%.1f ms", median(ourCpu) * 1e3),
       "sox " + format("%.1f ms", median(soxCpu) * 1e3),
       format("%.2f", cpuRatio), "<= 0.7 x sox", verdict(cpuRatio <= 0.7)});

  // 2: footprint of that conversion, traced.
  unlink(out.c_str());
  const ChildResult ourFoot =
      runOne(convertPlan(hearkener, call, out, true), 60);
  unlink(soxOut.c_str());
  const ChildResult soxFoot =
      runOne(commandPlan({sox, call, soxOut}, true), 60);
  allRan = allRan && ourFoot.ok() && soxFoot.ok();
  rows.push_back({"2 convert 60 s call: peak RSS", mib(ourFoot.hwmKiB),
                  "sox " + mib(soxFoot.hwmKiB),
                  format("%.2f", double(ourFoot.hwmKiB) / soxFoot.hwmKiB),
                  "<= 5 MiB", verdict(ourFoot.hwmKiB <= 5 * 1024)});
  rows.push_back(
      {"2 convert 60 s call: shared objects",
       std::to_string(ourFoot.objects.size()),
       "sox " + std::to_string(soxFoot.objects.size()),
       format("%.2f", double(ourFoot.objects.size()) / soxFoot.objects.size()),
       "-", ""});

  // 3 and 4: live framed recordings.
  const int longest = std::max(liveSeconds, manySeconds);
  std::vector<Bytes> allChunks;
  encodeCall(longest, &allChunks);
  const std::vector<Bytes> liveChunks(allChunks.begin(),
                                      allChunks.begin() + liveSeconds * 50);
  const std::vector<Bytes> manyChunks(allChunks.begin(),
                                      allChunks.begin() + manySeconds * 50);

  const Live one = recordLive(hearkener, work, liveChunks, 1, liveSeconds);
  printChildFailures("live", one.ours, work);
  allRan = allRan && one.ours[0].ok() && one.peer[0].ok() &&
           one.streamedOurs == 1 && one.streamedPeer == 1;
  const ChildResult& o = one.ours[0];
  const ChildResult& p = one.peer[0];
  const std::string liveName =
      "3 live G.729A+GSM " + std::to_string(liveSeconds) + " s: ";
  rows.push_back({liveName + "peak RSS", mib(o.hwmKiB), "cat " + mib(p.hwmKiB),
                  format("%.2f", double(o.hwmKiB) / p.hwmKiB), "<= 6 MiB",
                  verdict(o.hwmKiB <= 6 * 1024)});
  rows.push_back({liveName + "shared objects", std::to_string(o.objects.size()),
                  "cat " + std::to_string(p.objects.size()),
                  format("%.2f", double(o.objects.size()) / p.objects.size()),
                  "-", ""});
  rows.push_back(
      {liveName + "CPU, % of a core", format("%.3f %%", o.cpu * 100 / o.wall),
       "cat " + format("%.3f %%", p.cpu * 100 / p.wall),
       format("%.2f", (o.cpu / o.wall) / (p.cpu / p.wall)), "-", ""});

  const Live crowd = recordLive(hearkener, work, manyChunks, many, manySeconds);
  printChildFailures("many", crowd.ours, work);
  auto collect = [](const std::vector<ChildResult>& all, bool cpu) {
    std::vector<double> values;
    for (const ChildResult& r : all) {
      if (!r.ok()) continue;
      values.push_back(cpu ? r.cpu * 100 / r.wall : double(r.hwmKiB));
    }
    return values;
  };
  int crowdOk = 0;
  for (const ChildResult& r : crowd.ours) crowdOk += r.ok();
  int peerOk = 0;
  for (const ChildResult& r : crowd.peer) peerOk += r.ok();
  allRan = allRan && crowdOk == many && peerOk == many &&
           crowd.streamedOurs == many && crowd.streamedPeer == many;
  const auto cpuOurs = collect(crowd.ours, true);
  const auto cpuPeer = collect(crowd.peer, true);
  const auto rssOurs = collect(crowd.ours, false);
  const auto rssPeer = collect(crowd.peer, false);
  const std::string manyName = "4 " + std::to_string(many) + " live at once " +
                               std::to_string(manySeconds) + " s: ";
  rows.push_back({manyName + "CPU/rec median",
                  format("%.3f %%", median(cpuOurs)),
                  "cat " + format("%.3f %%", median(cpuPeer)),
                  format("%.2f", median(cpuOurs) / median(cpuPeer)), "< 0.5 %",
                  verdict(median(cpuOurs) < 0.5)});
  rows.push_back({manyName + "CPU/rec max", format("%.3f %%", maxOf(cpuOurs)),
                  "cat " + format("%.3f %%", maxOf(cpuPeer)),
                  format("%.2f", maxOf(cpuOurs) / maxOf(cpuPeer)), "< 0.5 %",
                  verdict(maxOf(cpuOurs) < 0.5)});
  rows.push_back({manyName + "peak RSS median", mib(median(rssOurs)),
                  "cat " + mib(median(rssPeer)),
                  format("%.2f", median(rssOurs) / median(rssPeer)), "< 6 MiB",
                  verdict(median(rssOurs) < 6 * 1024)});
  rows.push_back({manyName + "peak RSS max", mib(maxOf(rssOurs)),
                  "cat " + mib(maxOf(rssPeer)),
                  format("%.2f", maxOf(rssOurs) / maxOf(rssPeer)), "< 6 MiB",
                  verdict(maxOf(rssOurs) < 6 * 1024)});

  // 5: the big conversion against cat and sox, wall time. cat copies inside
  // the kernel (copy_file_range); dd with 128 KiB blocks is the copy through
  // user space that a converter cannot beat.
  std::vector<double> bigOurs;
  std::vector<double> bigCat;
  std::vector<double> bigDd;
  std::vector<double> bigSox;
  std::vector<double> bigOursCpu;
  std::vector<double> bigCatCpu;
  for (int i = 0; i < bigRuns; ++i) {
    unlink(out.c_str());
    const ChildResult a = runOne(convertPlan(hearkener, big, out, false), 300);
    unlink(out.c_str());
    const ChildResult b =
        runOne(commandPlan({"/bin/cat", big}, false, out), 300);
    unlink(out.c_str());
    const ChildResult c = runOne(commandPlan({sox, big, out}), 300);
    unlink(out.c_str());
    const ChildResult d = runOne(
        commandPlan({"/bin/dd", "if=" + big, "of=" + out, "bs=128K",
                     "status=none"}),
        300);
    unlink(out.c_str());
    if (d.ok()) bigDd.push_back(d.wall);
    allRan = allRan && a.ok() && b.ok() && c.ok() && d.ok();
    if (a.ok()) bigOurs.push_back(a.wall), bigOursCpu.push_back(a.cpu);
    if (b.ok()) bigCat.push_back(b.wall), bigCatCpu.push_back(b.cpu);
    if (c.ok()) bigSox.push_back(c.wall);
  }
  struct stat info {};
  stat(big.c_str(), &info);
  const std::string bigName =
      format("5 convert %.0f MB: ", info.st_size / 1e6) + "wall (median of " +
      std::to_string(bigRuns) + ")";
  const double catRatio = median(bigOurs) / median(bigCat);
  rows.push_back({bigName, format("%.3f s", median(bigOurs)),
                  "cat " + format("%.3f s", median(bigCat)),
                  format("%.2f", catRatio), "<= 1.3 x cat",
                  verdict(catRatio <= 1.3)});
  rows.push_back({"5 convert: wall against dd bs=128K",
                  format("%.3f s", median(bigOurs)),
                  "dd " + format("%.3f s", median(bigDd)),
                  format("%.2f", median(bigOurs) / median(bigDd)), "-", ""});
  rows.push_back({"5 convert: wall against sox",
                  format("%.3f s", median(bigOurs)),
                  "sox " + format("%.3f s", median(bigSox)),
                  format("%.2f", median(bigOurs) / median(bigSox)), "-", ""});
  rows.push_back(
      {"5 convert: CPU (same runs)", format("%.3f s", median(bigOursCpu)),
       "cat " + format("%.3f s", median(bigCatCpu)),
       format("%.2f", median(bigOursCpu) / median(bigCatCpu)), "-", ""});

  std::printf("%-46s %12s %18s %7s %14s %s\n", "figure", "hearkener", "peer",
              "ratio", "goal", "");
  for (const Row& row : rows) {
    std::printf("%-46s %12s %18s %7s %14s %s\n", row.figure.c_str(),
                row.ours.c_str(), row.peer.c_str(), row.ratio.c_str(),
                row.goal.c_str(), row.verdict.c_str());
  }
  std::printf(
      "\ncross-check, ru_maxrss: convert %ld KiB (sox %ld), live %ld "
      "KiB (cat %ld)\n",
      ourFoot.maxrssKiB, soxFoot.maxrssKiB, o.maxrssKiB, p.maxrssKiB);
  std::printf("shared objects of the 60 s conversion:");
  for (const std::string& path : ourFoot.objects) {
    const size_t slash = path.rfind('/');
    std::printf(" %s", path.c_str() + slash + 1);
  }
  std::printf("\n");
  if (!allRan) {
    std::printf("\nSOME RUNS FAILED: the figures above leave them out\n");
    return 1;
  }
  return 0;
}
