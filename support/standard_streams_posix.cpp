#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "support/standard_streams.h"

namespace {

bool isClosed(int descriptor) {
  return fcntl(descriptor, F_GETFD) < 0 && errno == EBADF;
}

}  // namespace

void standardStreamsEnsureOpen() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (!isClosed(descriptor)) continue;
    // The lowest free number is `descriptor` itself: the ones below it are
    // open by now. Anything else is moved there and closed.
    const int opened =
        open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY);
    if (opened < 0 || opened == descriptor) continue;
    dup2(opened, descriptor);  // on failure it stays closed
    close(opened);
  }
}
