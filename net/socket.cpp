// NetSocket over the system calls of net/socket_platform.h.
//
// Closing is split in two so that a stop on another thread is safe: netClose
// only shuts the connection down (which wakes a pending call of the owner)
// and marks the record closed; the system's socket is released by
// netDestroy, which the owner calls once it has left every call.
//
// A wait sleeps in the system for at most kNetStopPollMs while it watches a
// stop flag, so the flag is seen in time.
#include "net/socket.h"

#include <atomic>
#include <chrono>
#include <new>
#include <string>

#include "net/socket_internal.h"
#include "net/socket_platform.h"
#include "support/mutex.h"

namespace {

// --- Registry of live sockets -------------------------------------------

// Created on first use; function-local statics are initialised safely even
// when two threads create their first sockets at the same time.
Mutex& registryLock() {
  static Mutex lock;
  return lock;
}
NetSocket* registryHead GUARDED_BY(registryLock()) = nullptr;
int32_t registryCount GUARDED_BY(registryLock()) = 0;

// Adds `socket` (newest first); the first socket of the process starts the
// system's sockets, and when that fails nothing is added.
bool registryAdd(NetSocket* socket) {
  MutexLock lock(&registryLock());
  if (registryCount == 0 && !netOsStart()) return false;
  socket->older = registryHead;
  if (registryHead != nullptr) registryHead->newer = socket;
  registryHead = socket;
  ++registryCount;
  return true;
}

// Removes `socket`; the last one stops the system's sockets.
void registryRemove(NetSocket* socket) {
  MutexLock lock(&registryLock());
  if (socket->newer != nullptr) {
    socket->newer->older = socket->older;
  } else {
    registryHead = socket->older;
  }
  if (socket->older != nullptr) socket->older->newer = socket->newer;
  socket->newer = socket->older = nullptr;
  if (--registryCount == 0) netOsStop();
}

void recordFailure(NetSocket* socket, const NetStatus& status) {
  socket->failure = status;
}

bool usable(const NetSocket* socket) {
  return socket != nullptr && socket->os != nullptr && !socket->closed.load();
}

bool stopRequested(const NetSocket* socket) {
  return socket->stop != nullptr && socket->stop->load() != 0;
}

}  // namespace

NetSocket* netNewSocket() {
  NetSocket* socket = new (std::nothrow) NetSocket;
  if (socket != nullptr && !registryAdd(socket)) {
    delete socket;
    return nullptr;
  }
  return socket;
}

NetStatus netStatusOfCode(int code, std::string (*text)(int)) {
  const NetOsCodes& c = kNetOsCodes;
  const struct {
    int code;
    NetError error;
  } known[] = {
      {c.refused, NetError::kRefused},
      {c.timedOut, NetError::kTimedOut},
      {c.hostUnreachable, NetError::kHostUnreachable},
      {c.netUnreachable, NetError::kNetUnreachable},
      {c.reset, NetError::kReset},
      {c.aborted, NetError::kAborted},
      {c.brokenPipe, NetError::kBrokenPipe},
      {c.unknownHost, NetError::kUnknownHost},
      {c.tryAgain, NetError::kNameTryAgain},
      {c.noAddress, NetError::kNoAddress},
  };
  for (const auto& k : known) {
    if (k.code != kNetOsNoCode && k.code == code) return netStatusOf(k.error);
  }
  return NetStatus{NetError::kSystem, NetPhase::kConnecting, text(code)};
}

NetStatus netStatusOfError(int error) {
  return netStatusOfCode(error, netOsErrorText);
}

NetWait netSocketWait(NetSocket* socket, const NetWaitFor& request,
                      unsigned* found) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline =
      Clock::now() +
      std::chrono::milliseconds(request.timeoutMs > 0 ? request.timeoutMs : 0);
  const auto msLeft = [&deadline] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                 Clock::now())
        .count();
  };
  for (;;) {
    if (request.watchStop && stopRequested(socket)) {
      recordFailure(socket, netStatusOf(NetError::kStopped));
      return NetWait::kStopped;
    }
    if (socket->closed.load()) return NetWait::kClosed;
    int32_t slice = -1;
    if (request.timeoutMs >= 0) {
      const auto left = msLeft();
      slice = left > 0 ? static_cast<int32_t>(left) : 0;
    }
    if (request.watchStop && (slice < 0 || slice > kNetStopPollMs)) {
      slice = kNetStopPollMs;
    }
    *found = 0;
    const int ready = netOsWait(socket->os, request.wanted, slice, found);
    if (ready > 0) return NetWait::kReady;
    if (ready < 0) {
      const int error = netOsLastError();
      if (netOsErrorClass(error) != NetErrorClass::kRetry) {
        recordFailure(socket, netStatusOfError(error));
        return NetWait::kFailed;
      }
      if (request.interruptEnds) return NetWait::kTimedOut;
    } else if (request.timeoutMs >= 0 && slice == 0) {
      // Timed out only once a wait at the deadline found nothing.
      return NetWait::kTimedOut;
    }
  }
}

namespace {

void reportSendFailure(const NetSocket* socket, int error) {
  char host[1024] = "";
  char service[128] = "";
  if (socket->peer.length <= 0 ||
      !netOsAddressName(socket->peer, host, sizeof(host), service,
                        sizeof(service))) {
    host[0] = '\0';
    service[0] = '\0';
  }
  reportLine(socket->reporter, ReportKind::kNotice,
             "send failed, returned %d (errno=%d) while sending to %s/%s",
             kNetFailed, error, host, service);
}

// Fills the line reader with what one receive delivers. Returns the count,
// 0 when the peer closed, or a failure.
NetResult refillLineReader(NetSocket* socket) {
  if (socket->stop != nullptr) {
    NetWaitFor request;
    request.wanted = kNetReadable;
    request.watchStop = true;
    unsigned found = 0;
    switch (netSocketWait(socket, request, &found)) {
      case NetWait::kStopped:
        return kNetStopped;
      case NetWait::kClosed:
        return kNetNoSocket;
      case NetWait::kFailed:
        return kNetFailed;
      default:
        break;
    }
  }
  NetLineReader& reader = socket->lineReader;
  const NetResult received = netReceive(
      socket, reader.area + NetLineReader::kStart, kNetLineReaderBytes);
  reader.readPosition = NetLineReader::kStart;
  reader.endPosition = NetLineReader::kStart + (received > 0 ? received : 0);
  return received;
}

}  // namespace

NetSocket* netSocketOfOs(NetOsSocket* os, const NetAddress& peer,
                         const std::atomic<int32_t>* stop) {
  NetSocket* socket = netNewSocket();
  if (socket == nullptr) {
    netOsRelease(os);
    return nullptr;
  }
  socket->os = os;
  socket->stop = stop;
  socket->peer = peer;
  return socket;
}

NetStatus netSocketStatus(const NetSocket* socket) {
  return socket != nullptr ? socket->failure : NetStatus{};
}

NetResult netWait(NetSocket* socket, int32_t timeoutMs) {
  if (!usable(socket)) return kNetNoSocket;
  if (timeoutMs < 0) return kNetWaitFailed;
  NetWaitFor request;
  request.wanted = kNetReadable | kNetExceptional;
  request.timeoutMs = timeoutMs;
  request.interruptEnds = true;
  unsigned found = 0;
  switch (netSocketWait(socket, request, &found)) {
    case NetWait::kTimedOut:
      return 0;
    case NetWait::kFailed:
      return kNetWaitFailed;
    case NetWait::kReady:
      break;
    default:  // closed meanwhile: the receive that follows reports it
      return 1;
  }
  if ((found & kNetExceptional) != 0) {
    recordFailure(socket, netStatusOf(NetError::kUrgent));
    return kNetWaitExceptional;
  }
  // A closed or failed connection counts as readable as well.
  if ((found & kNetReadable) != 0) return 1;
  return kNetWaitNotReadable;
}

NetResult netWaitReadable(NetSocket* socket, int32_t timeoutMs) {
  if (!usable(socket)) return kNetNoSocket;
  if (socket->lineReader.unread() > 0) return 1;
  return netWait(socket, timeoutMs);
}

NetResult netReceive(NetSocket* socket, uint8_t* buffer, int32_t size) {
  if (!usable(socket) || buffer == nullptr || size <= 0) return kNetNoSocket;
  if (socket->lineReader.unread() > 0) {
    return socket->lineReader.take(buffer, size);
  }
  for (;;) {
    const int32_t received = netOsReceive(socket->os, buffer, size);
    if (received >= 0) return received;
    const int error = netOsLastError();
    const NetErrorClass kind = netOsErrorClass(error);
    if (kind == NetErrorClass::kRetry) continue;
    if (kind == NetErrorClass::kFailed) {
      recordFailure(socket, netStatusOfError(error));
      return kNetFailed;
    }
    // A socket that never blocks: receive once a wait finds it readable.
    NetWaitFor request;
    request.wanted = kNetReadable;
    unsigned found = 0;
    const NetWait ready = netSocketWait(socket, request, &found);
    // Closed while waiting: the end of the stream, as after a shutdown.
    if (ready == NetWait::kClosed) return 0;
    if (ready != NetWait::kReady) return kNetFailed;
  }
}

NetResult netReadLine(char* buffer, int32_t size, NetSocket* socket) {
  if (buffer == nullptr || size <= 0) return kNetNoSocket;
  const int32_t room = size - 1;
  int32_t count = 0;
  while (count < room) {
    if (!usable(socket)) return kNetNoSocket;
    NetLineReader& reader = socket->lineReader;
    if (reader.unread() <= 0) {
      const NetResult received = refillLineReader(socket);
      if (received < 0) return received;
      if (received == 0) {
        buffer[count] = '\0';
        return count > 0 ? count : kNetLineClosed;
      }
    }
    const char c = static_cast<char>(reader.area[reader.readPosition++]);
    buffer[count++] = c;
    if (c == '\n') {
      buffer[count] = '\0';
      return count;
    }
  }
  buffer[room] = '\0';
  return room;
}

NetResult netSend(NetSocket* socket, const uint8_t* bytes, int32_t length) {
  if (!usable(socket)) return kNetNoSocket;
  if (length <= 0) return 0;
  if (bytes == nullptr) return kNetNoSocket;
  // With a stop flag the send must not block where the flag cannot be seen.
  const bool dontWait = socket->stop != nullptr;
  int32_t sent = 0;
  while (sent < length) {
    const int32_t result =
        netOsSend(socket->os, bytes + sent, length - sent, dontWait);
    if (result > 0) {
      sent += result;
      continue;
    }
    if (result == 0) break;
    const int error = netOsLastError();
    const NetErrorClass kind = netOsErrorClass(error);
    if (kind == NetErrorClass::kRetry) continue;
    if (kind == NetErrorClass::kWouldBlock) {
      NetWaitFor request;
      request.wanted = kNetWritable;
      request.watchStop = dontWait;
      unsigned found = 0;
      const NetWait ready = netSocketWait(socket, request, &found);
      if (ready == NetWait::kStopped) return kNetStopped;
      if (ready == NetWait::kClosed) return kNetNoSocket;
      if (ready == NetWait::kReady) continue;
    }
    reportSendFailure(socket, error);
    recordFailure(socket, netStatusOfError(error));
    return kNetFailed;
  }
  return sent;
}

void netClose(NetSocket* socket) {
  if (socket == nullptr || socket->os == nullptr) return;
  if (socket->closed.exchange(true)) return;
  // The system's socket itself stays until netDestroy.
  netOsShutdownAndWake(socket->os);
}

void netDestroy(NetSocket* socket) {
  if (socket == nullptr) return;
  netClose(socket);
  netOsRelease(socket->os);
  socket->os = nullptr;
  registryRemove(socket);
  delete socket;
}

int32_t netLiveSocketCount() {
  MutexLock lock(&registryLock());
  return registryCount;
}
