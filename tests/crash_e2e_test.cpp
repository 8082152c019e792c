// End to end: a program that crashes while it waits for a stream leaves a
// crash report in the user's state folder, and still ends by the signal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/loopback_server.h"
#include "tests/test_files.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HEARKENER_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define HEARKENER_TEST_ASAN 1
#endif

namespace {

// Starts `argv` with exactly the environment `env`, output to /dev/null.
pid_t spawn(const std::vector<std::string>& argv,
            const std::vector<std::string>& env) {
  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t child = -1;
  if (posix_spawn(&child, args[0], &actions, nullptr, args.data(),
                  envp.data()) != 0) {
    child = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  return child;
}

TEST(CrashE2eTest, SegvWhileWaitingLeavesAReport) {
  test_files::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  loopback::LoopbackServer server(
      loopback::Family::kIpv4, [](loopback::Peer& peer) { peer.stall(20000); });
  ASSERT_TRUE(server.listening());

  std::vector<std::string> env = {
      "XDG_STATE_HOME=" + dir.path(),
      "HEARKENER_REGISTRY_FILE=" + dir.file("missing.reg"),
      "PATH=/usr/bin:/bin",
  };
#ifdef HEARKENER_TEST_ASAN
  // The sanitizer would otherwise take these signals itself.
  env.push_back(
      "ASAN_OPTIONS=handle_segv=0:handle_sigbus=0:handle_abort=0:"
      "handle_sigfpe=0:handle_sigill=0");
#endif
  const pid_t child = spawn({HEARKENER_EXE, "-t", "-h", "127.0.0.1", "-p",
                             server.portText(), "-F", dir.file("out.wav")},
                            env);
  ASSERT_GT(child, 0);
  // Connected means crash reporting is set up: it comes first.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!server.accepted() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(server.accepted());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_EQ(0, kill(child, SIGSEGV));
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  server.release();
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(SIGSEGV, WTERMSIG(status));

  const std::string crashDumps = dir.path() + "/hearkener/crashes";
  std::vector<std::string> reports;
  std::error_code error;
  for (const auto& entry :
       std::filesystem::directory_iterator(crashDumps, error)) {
    reports.push_back(entry.path().filename().string());
  }
  ASSERT_EQ(1u, reports.size()) << crashDumps;
  // Crash-hearkener-YYMMDD-hhmmss
  EXPECT_EQ(0u, reports[0].rfind("Crash-hearkener-", 0)) << reports[0];
  EXPECT_EQ(29u, reports[0].size()) << reports[0];
  const test_files::Bytes bytes =
      test_files::readFile(crashDumps + "/" + reports[0]);
  const std::string report(bytes.begin(), bytes.end());
  EXPECT_NE(std::string::npos, report.find("application: hearkener\n"))
      << report;
  EXPECT_NE(std::string::npos, report.find("signal: 11 (SIGSEGV)\n")) << report;
  const size_t trace = report.find("backtrace:\n");
  ASSERT_NE(std::string::npos, trace) << report;
  // At least one frame line (an address in brackets) after the heading.
  EXPECT_NE(std::string::npos, report.find("[0x", trace)) << report;
  EXPECT_NE(std::string::npos, report.find("end of report\n")) << report;
}

}  // namespace
