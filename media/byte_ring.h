// ByteRing: a fixed-size circular byte queue, the storage under the media
// decoder's input and per-direction output queues.
//
// One storage byte always stays free, so a ring of capacity c holds at most
// c - 1 bytes; read == write means empty. The ring checks nothing: callers
// ask ringFill / ringSpace (or their contiguous forms) before they get or
// put. The contiguous forms are non-zero exactly when the ring is not empty
// (ringFillContiguous) or not full (ringSpaceContiguous).
//
// Thread-safety: none; a ring is used by one thread at a time.
#pragma once

#include <cstdint>

struct ByteRing {
  uint8_t* base = nullptr;  // storage; null while not initialised
  int32_t capacity = 0;
  uint8_t* end = nullptr;    // base + capacity
  uint8_t* write = nullptr;  // where the next byte is stored
  uint8_t* read = nullptr;   // where the next byte is taken from
};

// Allocates `capacity` bytes of storage and empties the ring. Returns 0, or
// -1 (base stays null) when the storage cannot be allocated. The only
// operation that allocates.
// REQUIRES: capacity >= 2; the ring is not initialised (or was released).
int32_t ringInit(ByteRing* ring, int32_t capacity);

// Frees the storage, if any, and clears the pointers; capacity is kept.
// Calling it on a released or never-initialised ring does nothing.
void ringRelease(ByteRing* ring);

// Bytes stored.
int32_t ringFill(const ByteRing* ring);
// Bytes readable from `read` on without wrapping.
int32_t ringFillContiguous(const ByteRing* ring);
// Bytes that can still be put.
int32_t ringSpace(const ByteRing* ring);
// Bytes that can be stored from `write` on without wrapping. Never reaches
// into the one byte that must stay free, so a commit of this many bytes
// never makes the ring look empty.
int32_t ringSpaceContiguous(const ByteRing* ring);

// Advances `write` by n after the caller stored n bytes at `write`.
// REQUIRES: 0 <= n <= ringSpaceContiguous(ring).
void ringCommit(ByteRing* ring, int32_t n);

// REQUIRES: ringSpace(ring) > 0.
inline void ringPutByte(ByteRing* ring, uint8_t byte) {
  *ring->write++ = byte;
  if (ring->write == ring->end) ring->write = ring->base;
}

// Stores n bytes, wrapping at the end.
// REQUIRES: 0 <= n <= ringSpace(ring).
void ringPutBytes(ByteRing* ring, const uint8_t* bytes, int32_t n);

// REQUIRES: ringFill(ring) > 0.
inline uint8_t ringGetByte(ByteRing* ring) {
  const uint8_t byte = *ring->read++;
  if (ring->read == ring->end) ring->read = ring->base;
  return byte;
}
