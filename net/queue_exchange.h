// The queue exchange with the recording service: the client reads the
// service's list of live queues, line by line, up to the line "[End]\r\n",
// then answers with the name of the queue to receive and "\r\n". After it
// the service sends that queue's audio.
//
// Thread-safety: one thread per connection; the stop flag may be set from
// any thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "net/net_status.h"
#include "net/socket.h"

// The line that ends the queue list, byte for byte.
constexpr char kQueueListEnd[] = "[End]\r\n";
// The buffer one line piece is read into; a longer line arrives in pieces.
constexpr int32_t kQueueLineBuffer = 1024;

// Receives one piece of a line of the queue list (never the end marker):
// `atLineStart` tells whether it starts a line; a piece that ends in a line
// feed ends its line, and a line longer than the buffer comes in several.
using QueueListPiece = void (*)(void* context, const char* piece,
                                int32_t length, bool atLineStart);

// At most this many offered names are kept, each cut to kQueueOfferedName
// bytes; the rest of a longer list is read and dropped.
constexpr size_t kQueueOfferedNames = 256;
constexpr size_t kQueueOfferedName = 256;

// Reads the queue list up to its end marker and hands every piece of it to
// `onPiece` (may be null: the list is discarded). Returns no failure, or,
// in phase kListing: kClosed when the peer closed the connection before
// the end marker, the receive's reason when one failed, kStopped when
// `stop` (may be null) was found nonzero.
// REQUIRES: connection is connected.
[[nodiscard]] NetStatus queueListRead(NetSocket* connection,
                                      QueueListPiece onPiece, void* context,
                                      const std::atomic<int32_t>* stop);

// Reads and discards the queue list, then sends `queueName` (its bytes as
// given, no terminator) and, in a second send, "\r\n". Only a whole line
// equal to kQueueListEnd ends the list: the same characters at the end of a
// longer line, which arrives in pieces, do not. Bytes after the end marker
// stay in the socket's line reader as the first audio bytes. The names of
// the list (lines without their line end, empty lines skipped; see
// kQueueOfferedNames) are stored in *offered (may be null) in the order
// offered.
// Returns no failure, or as queueListRead; when a send failed, its reason
// in phase kSendingName (the socket layer reported the send's line);
// kStopped when `stop` (may be null) was found nonzero before a line or
// became so while waiting for one or while sending.
// REQUIRES: connection is connected; queueName is not null.
[[nodiscard]] NetStatus queueExchange(
    NetSocket* connection, const char* queueName,
    const std::atomic<int32_t>* stop,
    std::vector<std::string>* offered = nullptr);
