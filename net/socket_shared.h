// What the NetSocket of every platform keeps alike: its place in the
// process-wide registry of live sockets, and its line reader. Used by the
// socket backends only.
//
// Thread-safety: the registry functions take the registry's own lock; a
// line reader belongs to the thread that owns its socket.
#pragma once

#include <cstdint>
#include <cstring>

#include "net/socket.h"

// A socket's links in the registry; guarded by the registry lock.
struct NetRegistryLinks {
  NetRegistryLinks* newer = nullptr;
  NetRegistryLinks* older = nullptr;
};

// Adds `links` (newest first). The first registration of the process calls
// `firstUse` under the registry lock; when it fails nothing is added and
// the result is false.
[[nodiscard]] bool netRegistryAdd(NetRegistryLinks* links, bool (*firstUse)());

// Removes `links`; removing the last one calls `lastUse` under the lock.
void netRegistryRemove(NetRegistryLinks* links, void (*lastUse)());

// Received bytes not yet read by a line read or receive: one refill lands
// at offsets 128 to 255 of `area`, the unread ones lie between readPosition
// and endPosition.
struct NetLineReader {
  static constexpr int32_t kStart = 128;
  uint8_t area[256] = {};
  int32_t readPosition = 0;
  int32_t endPosition = 0;

  int32_t unread() const { return endPosition - readPosition; }
  // Where a refill receives to, at most kNetLineReaderBytes bytes.
  uint8_t* refillArea() { return area + kStart; }
  // Records a refill's receive result (its count, 0 or a failure).
  void refilled(NetResult received) {
    readPosition = kStart;
    endPosition = kStart + (received > 0 ? received : 0);
  }
  // Moves up to `size` unread bytes to `buffer`; returns their number.
  int32_t take(uint8_t* buffer, int32_t size) {
    const int32_t count = unread() < size ? unread() : size;
    std::memcpy(buffer, area + readPosition, static_cast<size_t>(count));
    readPosition += count;
    return count;
  }
};

// netReadLine over a backend's `usable()` (false once the socket is closed)
// and `refill()` (one receive into the reader: its count, 0 at the peer's
// close, or a failure), with netReadLine's results.
template <typename Usable, typename Refill>
NetResult netLineReaderReadLine(NetLineReader* reader, char* buffer,
                                int32_t size, Usable usable, Refill refill) {
  if (buffer == nullptr || size <= 0) return kNetNoSocket;
  const int32_t room = size - 1;
  int32_t count = 0;
  while (count < room) {
    if (!usable()) return kNetNoSocket;
    if (reader->unread() <= 0) {
      const NetResult received = refill();
      if (received < 0) return received;
      if (received == 0) {
        buffer[count] = '\0';
        return count > 0 ? count : kNetLineClosed;
      }
    }
    const char c = static_cast<char>(reader->area[reader->readPosition++]);
    buffer[count++] = c;
    if (c == '\n') {
      buffer[count] = '\0';
      return count;
    }
  }
  buffer[room] = '\0';
  return room;
}
