#include "media/byte_ring.h"

#include <cstddef>
#include <cstring>
#include <new>

int32_t ringInit(ByteRing* ring, int32_t capacity) {
  ring->capacity = capacity;
  ring->base = new (std::nothrow) uint8_t[static_cast<size_t>(capacity)];
  if (ring->base == nullptr) {
    ring->end = ring->write = ring->read = nullptr;
    return -1;
  }
  ring->end = ring->base + capacity;
  ring->write = ring->read = ring->base;
  return 0;
}

void ringRelease(ByteRing* ring) {
  delete[] ring->base;
  ring->base = ring->end = ring->write = ring->read = nullptr;
}

int32_t ringFill(const ByteRing* ring) {
  if (ring->write >= ring->read) {
    return static_cast<int32_t>(ring->write - ring->read);
  }
  return ring->capacity - static_cast<int32_t>(ring->read - ring->write);
}

int32_t ringFillContiguous(const ByteRing* ring) {
  if (ring->write >= ring->read) {
    return static_cast<int32_t>(ring->write - ring->read);
  }
  return static_cast<int32_t>(ring->end - ring->read);
}

int32_t ringSpace(const ByteRing* ring) {
  if (ring->write < ring->read) {
    return static_cast<int32_t>(ring->read - ring->write) - 1;
  }
  if (ring->read == ring->base) {
    return static_cast<int32_t>(ring->end - ring->write) - 1;
  }
  return ring->capacity - static_cast<int32_t>(ring->write - ring->read) - 1;
}

int32_t ringSpaceContiguous(const ByteRing* ring) {
  if (ring->write < ring->read) {
    return static_cast<int32_t>(ring->read - ring->write) - 1;
  }
  if (ring->read == ring->base) {
    return static_cast<int32_t>(ring->end - ring->write) - 1;
  }
  return static_cast<int32_t>(ring->end - ring->write);
}

void ringCommit(ByteRing* ring, int32_t n) {
  ring->write += n;
  if (ring->write >= ring->end) ring->write -= ring->capacity;
}

void ringPutBytes(ByteRing* ring, const uint8_t* bytes, int32_t n) {
  const int32_t first = static_cast<int32_t>(ring->end - ring->write);
  if (n < first) {
    std::memcpy(ring->write, bytes, static_cast<size_t>(n));
    ring->write += n;
    return;
  }
  std::memcpy(ring->write, bytes, static_cast<size_t>(first));
  std::memcpy(ring->base, bytes + first, static_cast<size_t>(n - first));
  ring->write = ring->base + (n - first);
}
