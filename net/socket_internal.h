// What the parts of NetSocket share (net/socket.cpp: the record, its waits
// and transfers; net/socket_connect.cpp: creating and connecting). Private
// to the net layer.
//
// Thread-safety: as NetSocket.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>

#include "net/name_lookup.h"
#include "net/net_status.h"
#include "net/socket.h"
#include "net/socket_platform.h"
#include "support/reporter.h"

// Received bytes not yet read by a line read or receive: one refill lands
// at offsets 128 to 255 of `area`, the unread ones lie between readPosition
// and endPosition.
struct NetLineReader {
  static constexpr int32_t kStart = 128;
  uint8_t area[256] = {};
  int32_t readPosition = 0;
  int32_t endPosition = 0;

  int32_t unread() const { return endPosition - readPosition; }
  // Moves up to `size` unread bytes to `buffer`; returns their number.
  int32_t take(uint8_t* buffer, int32_t size) {
    const int32_t count = unread() < size ? unread() : size;
    std::memcpy(buffer, area + readPosition, static_cast<size_t>(count));
    readPosition += count;
    return count;
  }
};

struct NetSocket {
  // Set at creation, released by netDestroy only; never changes in between,
  // so a netClose on another thread never races with its readers.
  NetOsSocket* os = nullptr;
  std::atomic<bool> closed{false};
  const std::atomic<int32_t>* stop = nullptr;
  Reporter* reporter = nullptr;
  // The last failure of a wait, receive or send.
  NetStatus failure;
  NetAddress peer;
  NetLineReader lineReader;
  // The registry's links; guarded by the registry lock.
  NetSocket* newer = nullptr;
  NetSocket* older = nullptr;
};

// A new NetSocket without a system socket, in the registry (the first one
// starts the system's sockets); null on failure.
NetSocket* netNewSocket();

// The reason of a system error or resolver code: a NetError of its own
// where kNetOsCodes names the code (the same words on every platform), else
// kSystem with `text` of the code.
NetStatus netStatusOfCode(int code, std::string (*text)(int));
// netStatusOfCode with the system's error text.
NetStatus netStatusOfError(int error);

enum class NetWait { kReady, kTimedOut, kClosed, kStopped, kFailed };

struct NetWaitFor {
  unsigned wanted = 0;     // NetReadiness bits
  int32_t timeoutMs = -1;  // negative: no limit
  bool watchStop = false;
  bool interruptEnds = false;  // an interrupted wait counts as timed out
};

// Waits until the system reports the socket in one of `request.wanted`
// (stored in *found). A failed wait records its reason in the socket; so
// does a stop.
NetWait netSocketWait(NetSocket* socket, const NetWaitFor& request,
                      unsigned* found);
