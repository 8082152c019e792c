// AudioEndpoint: the one record type behind every audio source and sink.
//
// Audio flows as the "currency": G.711 A-law bytes of two interleaved
// channels at 8000 frames per second (first channel's byte first), with no
// header. A block may end in the middle of a frame; the next block continues
// the stream.
//
// A source fills `wait` and `read`, a sink fills `write`; every endpoint
// fills `destroy` and `close`. Every slot receives the record itself first.
//
// Thread-safety: all operations run on the main thread, except a source's
// `close`, which the stop handler also calls from its own thread while the
// main thread may be inside `wait` or `read` of the same source. A source's
// `close` must make such a pending call return promptly, and the private
// state it touches stays valid until `destroy`.
#pragma once

#include <atomic>
#include <cstdint>

#include "app/result.h"

// Bytes of the currency per second: two one-byte channels at 8000 frames.
constexpr int32_t kCurrencyBytesPerSecond = 16000;

struct AudioEndpoint {
  // Closes the endpoint if still open, then frees its state and the record.
  void (*destroy)(AudioEndpoint* endpoint) = nullptr;
  // Ends the endpoint's activity and clears isOpen. Idempotent: a second
  // call does nothing and returns 0.
  Result (*close)(AudioEndpoint* endpoint) = nullptr;
  // Sources: blocks at most timeoutMs until bytes can be read. > 0 read now,
  // 0 time-out, < 0 failure.
  Result (*wait)(AudioEndpoint* endpoint, int32_t timeoutMs) = nullptr;
  // Sources: stores up to capacity bytes and their number in *count. 0 with
  // *count == 0 is the end of the input. -8 comes with *count >= 0 valid
  // bytes (with 0: the end of an input in which undecodable frames were
  // met); other failures store -1 in *count.
  Result (*read)(AudioEndpoint* endpoint, uint8_t* buffer, int32_t capacity,
                 int32_t* count) = nullptr;
  // Sinks: consumes the bytes; returns the number accepted or a failure.
  Result (*write)(AudioEndpoint* endpoint, const uint8_t* bytes,
                  int32_t length) = nullptr;
  // 1 from creation until close, 0 afterwards. Atomic because the stop
  // thread's close clears it while the main thread reads it.
  std::atomic<int32_t> isOpen{0};
  // The implementation's private state; owned by the record.
  void* state = nullptr;
};

using AudioSource = AudioEndpoint;
using AudioSink = AudioEndpoint;

// True when the endpoint is present, open and has its state: the check every
// operation but destroy makes before doing anything.
inline bool endpointUsable(const AudioEndpoint* endpoint) {
  return endpoint != nullptr && endpoint->isOpen.load() == 1 &&
         endpoint->state != nullptr;
}
