// End-to-end test of the status line: a live recording from a loopback
// service that sends two seconds of audio in real time, with standard error
// on a pseudo-terminal (the line moves, is erased, the summary follows), on
// a pty with --no-status (only the summary) and on a pipe (nothing at all).
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e_wav.h"
#include "tests/loopback_server.h"
#include "tests/run_program.h"
#include "tests/test_files.h"

namespace {

using loopback::Family;
using loopback::LoopbackServer;
using loopback::Peer;

constexpr int kChunks = 20;
constexpr int kChunkBytes = 1600;  // 0.1 s of the currency
constexpr char kErase[] = "\x1b[K";

// Plays the service: lists one queue, takes the name, then sends kChunks
// chunks of loud audio 100 ms apart and ends the stream.
void serveTwoSeconds(Peer& peer) {
  peer.send("calls\r\n[End]\r\n");
  peer.receive(7, 10000);
  const std::string chunk(kChunkBytes, '\xAA');
  for (int i = 0; i < kChunks; ++i) {
    if (!peer.send(chunk)) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  peer.finishSending();
  peer.receiveUntilClosed(10000);
}

struct PtyRun {
  int status = -1;
  std::string err;
};

// Runs the program with standard error on a raw pty 100 columns wide
// (standard input and output on /dev/null) and reads the pty to its end.
PtyRun runOnPty(const std::vector<std::string>& args) {
  PtyRun run;
  struct termios raw {};
  cfmakeraw(&raw);
  struct winsize size {};
  size.ws_col = 100;
  size.ws_row = 24;
  int master = -1;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, &raw, &size) != 0) return run;
  std::vector<std::string> all = {e2e::hearkenerExe()};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(slave, 2);
    close(master);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(slave);
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (child > 0 && std::chrono::steady_clock::now() < deadline) {
    struct pollfd fd = {master, POLLIN, 0};
    if (poll(&fd, 1, 200) <= 0) continue;
    char bytes[4096];
    const ssize_t n = read(master, bytes, sizeof bytes);
    if (n <= 0) break;  // EIO once the child closed the pty
    run.err.append(bytes, static_cast<size_t>(n));
  }
  close(master);
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    run.status = WEXITSTATUS(status);
  }
  return run;
}

struct Outputs {
  std::string out;  // the output file's name
  std::string err;  // what the program wrote to standard error
  int status = -1;
};

enum class Stderr { kPty, kPtyNoStatus, kPipe };

Outputs recordTwoSeconds(Stderr where) {
  Outputs result;
  test_files::TempDir dir;
  result.out = dir.file("out.wav");
  LoopbackServer server(Family::kIpv4, serveTwoSeconds);
  std::vector<std::string> args = {"-h", server.host(), "-p",
                                   server.portText(), "-q", "calls", "-F",
                                   result.out};
  if (where == Stderr::kPipe) {
    const run_program::RunResult run = e2e::runHearkener(args);
    result.err = run.err;
    result.status = run.exited ? run.exitStatus : -1;
  } else {
    if (where == Stderr::kPtyNoStatus) args.push_back("--no-status");
    const PtyRun run = runOnPty(args);
    result.err = run.err;
    result.status = run.status;
  }
  server.join();
  return result;
}

std::string summaryOf(const std::string& out) {
  return "recorded 2.000 seconds of audio into " + out +
         " (0 frames dropped)\n";
}

TEST(StatusLineEndToEnd, MovesOnATerminalClearsAndEndsWithTheSummary) {
  const Outputs run = recordTwoSeconds(Stderr::kPty);
  EXPECT_EQ(run.status, 0);
  // Every draw is "\r" TEXT "\x1b[K"; the last one erases the line.
  const std::string summary = summaryOf(run.out);
  ASSERT_GE(run.err.size(), summary.size()) << run.err;
  EXPECT_EQ(run.err.substr(run.err.size() - summary.size()), summary);
  const std::string draws = run.err.substr(0, run.err.size() - summary.size());
  std::set<std::string> texts;
  size_t at = 0;
  std::string last = "none";
  while (at < draws.size()) {
    ASSERT_EQ(draws[at], '\r') << draws;
    const size_t end = draws.find(kErase, at);
    ASSERT_NE(end, std::string::npos) << draws;
    last = draws.substr(at + 1, end - at - 1);
    if (!last.empty()) {
      EXPECT_NE(last.find(" kB  ["), std::string::npos) << last;
      texts.insert(last);
    }
    at = end + 3;
  }
  EXPECT_EQ(last, "") << "the line was not erased before the summary";
  EXPECT_GE(texts.size(), 2u) << draws;
}

TEST(StatusLineEndToEnd, NoStatusLeavesOnlyTheSummaryAndAPipeGetsNothing) {
  const Outputs quiet = recordTwoSeconds(Stderr::kPtyNoStatus);
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, summaryOf(quiet.out));
  const Outputs piped = recordTwoSeconds(Stderr::kPipe);
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.err, "");
}

}  // namespace
