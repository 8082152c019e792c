// standardStreamsEnsureOpen in a child process whose standard descriptors
// were closed: each closed one becomes /dev/null in the right mode, open
// ones stay, and no other descriptor is left behind.
#include "support/standard_streams.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

namespace {

// Failure bits reported by the child's exit status.
constexpr int kNotDevNull = 1;
constexpr int kWrongMode = 2;
constexpr int kLeaked = 4;
constexpr int kOpenOneChanged = 8;

bool isDevNull(int descriptor) {
  char link[64] = "/proc/self/fd/";
  char target[64] = {};
  link[14] = static_cast<char>('0' + descriptor);
  return readlink(link, target, sizeof target - 1) > 0 &&
         std::strcmp(target, "/dev/null") == 0;
}

// Runs in the child: closes the descriptors in `closedMask`, repairs them
// and checks the outcome. Only async-signal-safe calls.
int closeAndRepair(int closedMask) {
  const int firstFree = dup(0);
  close(firstFree);
  // Descriptor 1 is a pipe or a file of the test run, never /dev/null here.
  const int keep = open("/proc/self/exe", O_RDONLY);
  dup2(keep, 1);
  close(keep);
  for (int d = 0; d <= 2; ++d) {
    if ((closedMask & (1 << d)) != 0) close(d);
  }
  standardStreamsEnsureOpen();
  int failures = 0;
  for (int d = 0; d <= 2; ++d) {
    if ((closedMask & (1 << d)) == 0) {
      if (d == 1 && isDevNull(d)) failures |= kOpenOneChanged;
      continue;
    }
    if (!isDevNull(d)) failures |= kNotDevNull;
    const int mode = fcntl(d, F_GETFL) & O_ACCMODE;
    if (mode != (d == 0 ? O_RDONLY : O_WRONLY)) failures |= kWrongMode;
  }
  const int probe = open("/dev/null", O_RDONLY);
  if (probe != firstFree) failures |= kLeaked;
  return failures;
}

TEST(StandardStreams, ClosedDescriptorsBecomeDevNull) {
  for (int closedMask : {0, 1, 2, 4, 5, 7}) {
    SCOPED_TRACE(closedMask);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(closeAndRepair(closedMask));
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
  }
}

}  // namespace
