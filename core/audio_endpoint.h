// AudioSource and AudioSink: the interfaces behind every audio source and
// sink, owned through std::unique_ptr.
//
// Audio flows as the "currency": G.711 A-law bytes of two interleaved
// channels at 8000 frames per second (first channel's byte first), with no
// header. A block may end in the middle of a frame; the next block continues
// the stream.
//
// Thread-safety: all operations run on the main thread, except a source's
// `close`, which the stop handler also calls from its own thread while the
// main thread may be inside `wait` or `read` of the same source. A source's
// `close` must make such a pending call return promptly, and the state it
// touches stays valid until the source is destroyed.
#pragma once

#include <atomic>
#include <cstdint>

#include "core/result.h"

// Bytes of the currency per second: two one-byte channels at 8000 frames.
constexpr int32_t kCurrencyBytesPerSecond = 16000;

class AudioEndpoint {
 public:
  // Destroying an endpoint closes it first if it is still open.
  virtual ~AudioEndpoint() = default;
  AudioEndpoint(const AudioEndpoint&) = delete;
  AudioEndpoint& operator=(const AudioEndpoint&) = delete;

  // Ends the endpoint's activity and clears isOpen. Idempotent: a second
  // call does nothing and returns 0.
  virtual Result close() = 0;

  // True once the opener has opened the endpoint, until close. Atomic
  // because the stop thread's close clears it while the main thread reads
  // it.
  bool isOpen() const { return open_.load(); }

 protected:
  AudioEndpoint() = default;
  // The opener's last step.
  void markOpen() { open_.store(true); }
  // Clears isOpen; true for the one call, on whichever thread, that did.
  bool markClosed() { return open_.exchange(false); }

 private:
  std::atomic<bool> open_{false};
};

class AudioSource : public AudioEndpoint {
 public:
  // Blocks at most timeoutMs until bytes can be read. > 0 read now, 0 time-
  // out, < 0 failure.
  virtual Result wait(int32_t timeoutMs) = 0;
  // Stores up to capacity bytes and their number in *count. 0 with
  // *count == 0 is the end of the input. -8 comes with *count >= 0 valid
  // bytes (with 0: the end of an input in which undecodable frames were
  // met); other failures store -1 in *count.
  virtual Result read(uint8_t* buffer, int32_t capacity, int32_t* count) = 0;
};

class AudioSink : public AudioEndpoint {
 public:
  // Consumes the bytes; returns the number accepted or a failure.
  virtual Result write(const uint8_t* bytes, int32_t length) = 0;
};
