// The WAV file source's opening of its file on POSIX descriptors. Names are
// used as the bytes they are.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "support/debug_trace.h"
#include "wav/wav_file_source.h"

namespace {

// Owns a descriptor until it is released to a stream.
class ScopedDescriptor {
 public:
  explicit ScopedDescriptor(int descriptor) : descriptor_(descriptor) {}
  ~ScopedDescriptor() {
    if (descriptor_ >= 0) ::close(descriptor_);
  }
  ScopedDescriptor(const ScopedDescriptor&) = delete;
  ScopedDescriptor& operator=(const ScopedDescriptor&) = delete;

  int get() const { return descriptor_; }
  int release() {
    const int descriptor = descriptor_;
    descriptor_ = -1;
    return descriptor;
  }

 private:
  int descriptor_;
};

}  // namespace

FILE* wavSourceOpenFile(const char* fileName, int* error) {
  *error = ENOENT;
  if (fileName == nullptr) return nullptr;
  // O_NONBLOCK: a FIFO without a writer or a device never holds the open.
  ScopedDescriptor file(
      ::open(fileName, O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (file.get() < 0) {
    *error = errno;
    return nullptr;
  }
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) {
    *error = errno;
    return nullptr;
  }
  if (!S_ISREG(info.st_mode)) {
    debugTrace("not a regular file: %s\n", fileName);
    *error = S_ISDIR(info.st_mode) ? EISDIR : 0;
    return nullptr;
  }
  const int flags = ::fcntl(file.get(), F_GETFL);
  if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    *error = errno;
    return nullptr;
  }
  FILE* stream = ::fdopen(file.get(), "rb");
  if (stream == nullptr) {
    *error = errno;
    return nullptr;
  }
  file.release();
  return stream;
}

int64_t wavSourceReadAt(FILE* stream, uint64_t offset, void* buffer,
                        size_t size, int* error) {
  for (;;) {
    const ssize_t got = ::pread(::fileno(stream), buffer, size,
                                static_cast<off_t>(offset));
    if (got >= 0) return static_cast<int64_t>(got);
    if (errno != EINTR) {
      *error = errno;
      return -1;
    }
  }
}

void wavSourceAdviseSequential(FILE* stream, uint64_t offset) {
  // Doubles the read-ahead on a file that is not cached yet.
  (void)::posix_fadvise(::fileno(stream), static_cast<off_t>(offset), 0,
                        POSIX_FADV_SEQUENTIAL);
}
