// The crash handler in child processes that really crash: where the report
// goes when its name is taken, that a planted symbolic link is never
// followed, and that a thread with its own alternate stack reports even a
// stack overflow.
#include "support/crash_handler.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "support/utf_convert.h"
#include "tests/test_files.h"

namespace {

void installHandler(const std::string& reportPath) {
  char16_t path[4096];
  ASSERT_EQ(UtfStatus::kOk,
            utf8ToUtf16Convert(path, reportPath.c_str(), 4096).status);
  crashHandlerSetAppName(u"crashtest");
  crashHandlerSetActivityType(kCrashActivitySaveReport);
  crashHandlerSetReportFilePath(path);
  crashHandlerInstall();
}

// Writes to a page that allows no access: a fault, not a sent signal.
__attribute__((noinline)) void faultNow() {
  void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1,
                    0);
  *static_cast<volatile char*>(page) = 1;
}

volatile int recursionLimit = 1 << 30;

__attribute__((noinline)) int recurse(int depth) {
  volatile char pad[512];
  pad[0] = static_cast<char>(depth);
  if (depth == recursionLimit) return 0;
  return recurse(depth + 1) + pad[0];
}

// On a small stack without the alternate stack it may have been given,
// attaches and overflows the stack.
void* overflowAttached(void*) {
  stack_t none = {};
  none.ss_flags = SS_DISABLE;
  sigaltstack(&none, nullptr);
  const CrashThreadStack crashStack = crashHandlerThreadAttach();
  recurse(0);
  return nullptr;
}

void overflowOnThread() {
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 256 * 1024);
  pthread_t thread;
  pthread_create(&thread, &attributes, overflowAttached, nullptr);
  pthread_join(thread, nullptr);
}

// Runs `crash` in a child with the handler installed; the signal that ended
// the child, or 0.
int crashChild(const std::string& reportPath, void (*crash)()) {
  const pid_t child = fork();
  if (child == 0) {
    installHandler(reportPath);
    crash();
    _exit(0);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return 0;
  return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

std::string readText(const std::string& path) {
  const test_files::Bytes bytes = test_files::readFile(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(CrashHandler, ReportNeverReplacesOrFollowsWhatIsThere) {
  struct Case {
    const char* name;
    bool plantFile;
    bool plantLink;
    bool plantSecond;
    const char* reportSuffix;
  };
  const Case cases[] = {
      {"free name", false, false, false, ""},
      {"name taken by a file", true, false, false, "-2"},
      {"name and -2 taken", true, false, true, "-3"},
      {"name is a link", false, true, false, "-2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test_files::TempDir dir;
    ASSERT_FALSE(dir.path().empty());
    const std::string report = dir.file("Crash-crashtest");
    const std::string target = dir.file("target");
    if (c.plantFile) {
      ASSERT_TRUE(test_files::writeFile(report, {'o', 'l', 'd'}));
    }
    if (c.plantLink) {
      ASSERT_TRUE(test_files::writeFile(target, {'k', 'e', 'e', 'p'}));
      ASSERT_EQ(0, symlink(target.c_str(), report.c_str()));
    }
    if (c.plantSecond) {
      ASSERT_TRUE(test_files::writeFile(report + "-2", {'2'}));
    }

    EXPECT_EQ(SIGSEGV, crashChild(report, faultNow));

    const std::string text = readText(report + c.reportSuffix);
    EXPECT_NE(std::string::npos, text.find("signal: 11 (SIGSEGV)\n")) << text;
    // The faulting instruction and at least its caller.
    EXPECT_NE(std::string::npos, text.find("\n#1 [0x")) << text;
    EXPECT_NE(std::string::npos, text.find("end of report\n")) << text;
    if (c.plantFile) {
      EXPECT_EQ("old", readText(report));
    }
    if (c.plantSecond) {
      EXPECT_EQ("2", readText(report + "-2"));
    }
    if (c.plantLink) {
      EXPECT_EQ("keep", readText(target));
      struct stat info;
      ASSERT_EQ(0, lstat(report.c_str(), &info));
      EXPECT_TRUE(S_ISLNK(info.st_mode));
    }
  }
}

TEST(CrashHandler, AttachedThreadReportsItsStackOverflow) {
  test_files::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string report = dir.file("Crash-crashtest");
  EXPECT_EQ(SIGSEGV, crashChild(report, overflowOnThread));
  const std::string text = readText(report);
  EXPECT_NE(std::string::npos, text.find("signal: 11 (SIGSEGV)\n")) << text;
  EXPECT_NE(std::string::npos, text.find("\n#1 [0x")) << text;
}

TEST(CrashHandler, DetachRestoresTheThreadsAlternateStack) {
  stack_t before;
  ASSERT_EQ(0, sigaltstack(nullptr, &before));
  {
    const CrashThreadStack crashStack = crashHandlerThreadAttach();
    ASSERT_TRUE(crashStack.attached());
    stack_t during;
    ASSERT_EQ(0, sigaltstack(nullptr, &during));
    EXPECT_EQ(0, during.ss_flags & SS_DISABLE);
    EXPECT_NE(before.ss_sp, during.ss_sp);
    EXPECT_GE(during.ss_size, 64u * 1024);
  }
  stack_t after;
  ASSERT_EQ(0, sigaltstack(nullptr, &after));
  EXPECT_EQ(before.ss_sp, after.ss_sp);
  EXPECT_EQ(before.ss_flags & SS_DISABLE, after.ss_flags & SS_DISABLE);
}

}  // namespace
