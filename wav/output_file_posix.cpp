// OutputFile over POSIX descriptors. Names are used as the bytes they are.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include "wav/output_file.h"
#include "wav/output_file_system.h"

namespace {

FileIdentity identityOf(const struct stat& info) {
  FileIdentity identity;
  identity.device = static_cast<uint64_t>(info.st_dev);
  identity.inode = static_cast<uint64_t>(info.st_ino);
  identity.known = true;
  return identity;
}

// O_NONBLOCK: opening a FIFO or a device never waits; the flag is cleared
// again once the file is known to be regular.
constexpr int kOpenFlags = O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;

}  // namespace

FileIdentity fileIdentityOfPath(const char* name) {
  struct stat info {};
  if (name == nullptr || ::stat(name, &info) != 0) return FileIdentity();
  return identityOf(info);
}

FileOpenOutcome outputFileOpenExisting(const char* name, int* descriptor,
                                       int* error) {
  *descriptor = ::open(name, kOpenFlags);
  if (*descriptor >= 0) return FileOpenOutcome::kOpened;
  if (errno == ENOENT) return FileOpenOutcome::kMissing;
  *error = errno;
  return FileOpenOutcome::kFailed;
}

FileOpenOutcome outputFileCreateNew(const char* name, int* descriptor,
                                    int* error) {
  *descriptor = ::open(name, kOpenFlags | O_CREAT | O_EXCL, 0666);
  if (*descriptor >= 0) return FileOpenOutcome::kOpened;
  if (errno == EEXIST) return FileOpenOutcome::kExists;
  *error = errno;
  return FileOpenOutcome::kFailed;
}

bool outputFileInspect(int descriptor, FileIdentity* identity, bool* regular,
                       int* error) {
  struct stat info {};
  if (::fstat(descriptor, &info) != 0) {
    *error = errno;
    return false;
  }
  *identity = identityOf(info);
  *regular = S_ISREG(info.st_mode);
  return true;
}

bool outputFileLock(int descriptor, bool* busy, int* error) {
  if (::flock(descriptor, LOCK_EX | LOCK_NB) == 0) return true;
  *error = errno;
  *busy = errno == EWOULDBLOCK;
  return false;
}

// The descriptor was opened with O_NONBLOCK.
bool outputFileSettle(int descriptor, int* error) {
  const int flags = ::fcntl(descriptor, F_GETFL);
  if (flags >= 0 && ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) == 0) {
    return true;
  }
  *error = errno;
  return false;
}

int64_t OutputFile::length() {
  struct stat info {};
  if (descriptor_ < 0 || ::fstat(descriptor_, &info) != 0) {
    lastError_ = descriptor_ < 0 ? EBADF : errno;
    return -1;
  }
  return static_cast<int64_t>(info.st_size);
}

bool OutputFile::readAt(uint64_t offset, void* bytes, size_t size) {
  auto* at = static_cast<uint8_t*>(bytes);
  while (size > 0) {
    const ssize_t got = ::pread(descriptor_, at, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      lastError_ = got < 0 ? errno : 0;
      return false;
    }
    at += got;
    size -= static_cast<size_t>(got);
    offset += static_cast<uint64_t>(got);
  }
  return true;
}

bool OutputFile::writeAt(uint64_t offset, const void* bytes, size_t size,
                         size_t* written) {
  const auto* at = static_cast<const uint8_t*>(bytes);
  size_t done = 0;
  bool ok = true;
  while (done < size) {
    const ssize_t put = ::pwrite(descriptor_, at + done, size - done,
                                 static_cast<off_t>(offset + done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) {
      lastError_ = put < 0 ? errno : ENOSPC;
      ok = false;
      break;
    }
    done += static_cast<size_t>(put);
  }
  if (written != nullptr) *written = done;
  return ok;
}

bool OutputFile::truncate(uint64_t length) {
  if (::ftruncate(descriptor_, static_cast<off_t>(length)) == 0) return true;
  lastError_ = errno;
  return false;
}

// The descriptor is gone whatever close says (EINTR included on Linux).
bool outputFileRelease(int descriptor, int* error) {
  if (::close(descriptor) == 0) return true;
  *error = errno;
  return false;
}

bool outputFileRemoveIfSame(const char* name, const FileIdentity& identity) {
  struct stat info {};
  if (name == nullptr || ::lstat(name, &info) != 0 || !S_ISREG(info.st_mode) ||
      !sameFile(identityOf(info), identity)) {
    return false;
  }
  return ::unlink(name) == 0;
}
