// WavFileIo: the operations the WAV sink performs on its opened output
// file. OutputFile is the one production implementation; tests put a double
// in front of it to make chosen operations fail (disk full, I/O errors,
// short writes). The sink calls it once per write of its buffer, never per
// audio byte.
//
// Thread-safety: one WavFileIo belongs to one thread.
#pragma once

#include <cstddef>
#include <cstdint>

class WavFileIo {
 public:
  virtual ~WavFileIo() = default;

  // Current length in bytes, or -1.
  [[nodiscard]] virtual int64_t length() = 0;
  // Reads `size` bytes at `offset`; false unless all were read.
  [[nodiscard]] virtual bool readAt(uint64_t offset, void* bytes,
                                    size_t size) = 0;
  // Writes `size` bytes at `offset`, retrying short writes. *written (may
  // be null) receives how many reached the file, also on failure.
  [[nodiscard]] virtual bool writeAt(uint64_t offset, const void* bytes,
                                     size_t size, size_t* written) = 0;
  // Sets the length to `length`.
  [[nodiscard]] virtual bool truncate(uint64_t length) = 0;
  // Closes the file (releasing the run's hold on it); false when the
  // system reported an error, the file being closed all the same.
  // Idempotent.
  [[nodiscard]] virtual bool close() = 0;
  // The system's error code (errno value) of the last failed operation.
  virtual int lastError() const = 0;
};
