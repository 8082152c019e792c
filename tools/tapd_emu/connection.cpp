#include "tools/tapd_emu/connection.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "tools/tapd_emu/stop_signal.h"

namespace tapd_emu {
namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds from now to `deadline`, at least 0.
int msUntil(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
      deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) + 1 : 0;
}

// Polls `fd` for `events` and the stop pipe. kOk when fd is ready.
IoEnd waitFor(int fd, short events, int timeoutMs) {
  pollfd entries[2] = {{fd, events, 0}, {stopFd(), POLLIN, 0}};
  for (;;) {
    const int ready = poll(entries, 2, timeoutMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return IoEnd::kClosed;
    if (entries[1].revents != 0) return IoEnd::kStopped;
    if (ready == 0) return IoEnd::kTimeout;
    return IoEnd::kOk;
  }
}

}  // namespace

IoEnd sendAll(int fd, const uint8_t* data, size_t length) {
  while (length > 0) {
    const IoEnd waited = waitFor(fd, POLLOUT, kSendStallMs);
    if (waited != IoEnd::kOk) return waited;
    const ssize_t sent = send(fd, data, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
      return IoEnd::kClosed;
    }
    data += sent;
    length -= static_cast<size_t>(sent);
  }
  return IoEnd::kOk;
}

IoEnd receiveLine(int fd, int timeoutMs, size_t maxLength, std::string* line) {
  const Clock::time_point deadline =
      Clock::now() + std::chrono::milliseconds(timeoutMs);
  std::string received;
  for (;;) {
    const size_t end = received.find('\n');
    if (end != std::string::npos) {
      received.resize(end > 0 && received[end - 1] == '\r' ? end - 1 : end);
      *line = received;
      return IoEnd::kOk;
    }
    if (received.size() >= maxLength) return IoEnd::kTooLong;
    const IoEnd waited = waitFor(fd, POLLIN, msUntil(deadline));
    if (waited != IoEnd::kOk) return waited;
    char buffer[256];
    const ssize_t got = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (got <= 0) return IoEnd::kClosed;
    received.append(buffer, static_cast<size_t>(got));
  }
}

IoEnd waitUntil(int fd, Clock::time_point deadline) {
  for (;;) {
    const IoEnd waited = waitFor(fd, POLLIN, msUntil(deadline));
    if (waited == IoEnd::kTimeout) return IoEnd::kOk;
    if (waited != IoEnd::kOk) return waited;
    char buffer[256];
    const ssize_t got = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (got <= 0) return IoEnd::kClosed;
  }
}

}  // namespace tapd_emu
