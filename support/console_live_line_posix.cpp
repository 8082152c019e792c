// On a terminal the line is rewritten after a carriage return and its rest
// erased with the ANSI "erase to end of line" sequence.
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/console_live_line.h"

int32_t liveLineColumns() {
  struct winsize size {};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

void liveLineWrite(const char* text, size_t length, size_t /*shown*/) {
  char bytes[512];
  if (length > sizeof bytes - 8) length = sizeof bytes - 8;
  bytes[0] = '\r';
  std::memcpy(bytes + 1, text, length);
  std::memcpy(bytes + 1 + length, "\x1b[K", 3);
  const size_t total = length + 4;
  const int savedErrno = errno;
  size_t done = 0;
  while (done < total) {
    const ssize_t n = ::write(STDERR_FILENO, bytes + done, total - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  errno = savedErrno;
}
