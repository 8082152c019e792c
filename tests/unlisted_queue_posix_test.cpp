// The unlisted-queue warning: on a terminal a queue that the service did not
// list is named with the list, and the run goes on; off a terminal the
// output stays as it was. The program's standard error is a pseudo-terminal
// here, or the pipe of runProgram.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "tests/e2e_wav.h"
#include "tests/loopback_server.h"
#include "tests/run_program.h"
#include "tests/test_files.h"

namespace {

using loopback::Family;
using loopback::LoopbackServer;
using loopback::Peer;

struct TerminalRun {
  int status = -1;  // as waitpid reports it
  std::string err;  // what the program wrote to the terminal
};

// Runs the program with standard error on a raw pseudo-terminal (no line
// end translation), standard input and output on /dev/null.
TerminalRun runOnTerminal(const std::vector<std::string>& args) {
  TerminalRun run;
  int master = -1;
  int slave = -1;
  if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return run;
  termios mode{};
  tcgetattr(slave, &mode);
  cfmakeraw(&mode);
  tcsetattr(slave, TCSANOW, &mode);
  std::vector<std::string> argv = {e2e::hearkenerExe()};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> pointers;
  for (std::string& arg : argv) pointers.push_back(arg.data());
  pointers.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(slave, STDERR_FILENO);
    ::close(master);
    execv(pointers[0], pointers.data());
    _exit(127);
  }
  ::close(slave);
  char buffer[4096];
  for (;;) {
    const ssize_t got = read(master, buffer, sizeof buffer);
    if (got > 0) {
      run.err.append(buffer, static_cast<size_t>(got));
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // EIO: every holder of the terminal's other end has left
    }
  }
  ::close(master);
  if (child > 0) waitpid(child, &run.status, 0);
  return run;
}

// The service lists `list`, takes the name and sends a little audio.
LoopbackServer::Script serviceListing(const std::string& list) {
  return [list](Peer& peer) {
    peer.send(list + "[End]\r\n");
    peer.receive(7, 10000);
    peer.send(std::string(64, '\xD5'));
  };
}

TEST(UnlistedQueue, NamedOnATerminalOnly) {
  const struct {
    const char* name;
    std::string list;
    std::string warning;  // on a terminal; "" for none
  } cases[] = {
      {"unlisted", "queue1\r\nB\xC3\xA4r 2\r\n\r\n",
       "queue sales is not in the service's list (offered: queue1, B\xC3\xA4r "
       "2)\n"},
      {"empty list", "", "queue sales is not in the service's list (offered: "
                         "none)\n"},
      {"listed", "queue1\r\nsales\r\n", ""},
  };
  for (const auto& c : cases) {
    for (const bool terminal : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (terminal ? " on a terminal" : ""));
      test_files::TempDir dir;
      ASSERT_FALSE(dir.path().empty());
      LoopbackServer server(Family::kIpv4, serviceListing(c.list));
      ASSERT_TRUE(server.listening());
      const std::vector<std::string> args = {"-h", server.host(), "-p",
                                             server.portText(), "-q", "sales",
                                             "-F", dir.file("out.wav")};
      if (terminal) {
        const TerminalRun run = runOnTerminal(args);
        ASSERT_TRUE(WIFEXITED(run.status)) << run.status;
        EXPECT_EQ(WEXITSTATUS(run.status), 0);
        if (c.warning.empty()) {
          EXPECT_EQ(run.err.find("not in the service's list"),
                    std::string::npos)
              << run.err;
        } else {
          EXPECT_NE(run.err.find(c.warning), std::string::npos) << run.err;
        }
      } else {
        const run_program::RunResult run = e2e::runHearkener(args);
        ASSERT_TRUE(run.exited);
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_EQ(run.err, "");
      }
      // The run went on and recorded the queue's audio.
      EXPECT_EQ(test_files::readFile(dir.file("out.wav")).size(), 58u + 64u);
    }
  }
}

}  // namespace
