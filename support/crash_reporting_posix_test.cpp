// Crash reporting on POSIX systems: a crash in a child process leaves a
// report in the user's state folder, which only the crash creates, and
// names it on standard error (fork, abort and raise).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/crash_reporting.h"
#include "support/globals.h"
#include "tests/globals_override.h"
#include "tests/scoped_env.h"
#include "tests/test_files.h"

namespace {

using test_globals::GlobalsOverride;

// Runs `body` in a child process and returns its wait status.
template <typename Body>
int inChild(Body body) {
  const pid_t child = fork();
  if (child == 0) {
    body();
    _exit(0);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return -1;
  return status;
}

std::vector<std::string> filesIn(const std::string& path) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

TEST(CrashReportingTest, OnlyTheCrashCreatesTheFolderAndNamesTheReport) {
  test_files::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string crashDumps = dir.path() + "/state/hearkener/crashes";
  const std::string errors = dir.file("stderr.txt");
  const int status = inChild([&] {
    test_env::setVariable("XDG_STATE_HOME", (dir.path() + "/state").c_str());
    const int err = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (err < 0 || dup2(err, STDERR_FILENO) < 0) _exit(9);
    GlobalsOverride globals(3, "");
    crashReportingSetup("unit");
    crashReportingSetup("unit");  // does nothing
    struct stat info;
    if (stat((dir.path() + "/state").c_str(), &info) == 0) _exit(11);
    abort();
  });
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(SIGABRT, WTERMSIG(status));
  const std::vector<std::string> reports = filesIn(crashDumps);
  ASSERT_EQ(1u, reports.size());
  EXPECT_EQ(0u, reports[0].rfind("Crash-unit-", 0)) << reports[0];
  struct stat info;
  ASSERT_EQ(0, stat(crashDumps.c_str(), &info));
  EXPECT_EQ(0700u, info.st_mode & 0777u);
  const test_files::Bytes said = test_files::readFile(errors);
  EXPECT_EQ("unit: crash report written to " + crashDumps + "/" + reports[0] +
                "\n",
            std::string(said.begin(), said.end()));
  const test_files::Bytes bytes =
      test_files::readFile(crashDumps + "/" + reports[0]);
  const std::string report(bytes.begin(), bytes.end());
  EXPECT_NE(std::string::npos, report.find("application: unit\n"));
  EXPECT_NE(std::string::npos, report.find("signal: 6 (SIGABRT)\n"));
  EXPECT_NE(std::string::npos, report.find("backtrace:\n"));
}

TEST(CrashReportingTest, WithoutACrashDumpFolderNothingIsWritten) {
  test_files::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  ASSERT_TRUE(test_files::writeFile(dir.file("blocker"), {1}));
  const int status = inChild([&] {
    // The state folder lies below a plain file: it cannot exist.
    test_env::setVariable("XDG_STATE_HOME", dir.file("blocker").c_str());
    GlobalsOverride globals(3, "");
    crashReportingSetup("unit");
    raise(SIGFPE);
  });
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(SIGFPE, WTERMSIG(status));
  EXPECT_EQ(std::vector<std::string>({"blocker"}), filesIn(dir.path()));
}

}  // namespace
