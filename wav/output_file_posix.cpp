// OutputFile over POSIX descriptors. Names are used as the bytes they are.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "wav/output_file.h"

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

OutputFile::~OutputFile() { close(); }

OutputFile::OutputFile(OutputFile&& other) noexcept { *this = std::move(other); }

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
  if (this != &other) {
    close();
    descriptor_ = other.descriptor_;
    created_ = other.created_;
    lastError_ = other.lastError_;
    identity_ = other.identity_;
    other.descriptor_ = -1;
  }
  return *this;
}

OutputOpenStatus OutputFile::open(const char* name, OutputOpenMode mode,
                                  const FileIdentity& input) {
  close();
  created_ = false;
  if (name == nullptr || name[0] == '\0') {
    lastError_ = ENOENT;
    return OutputOpenStatus::kFailed;
  }
  // An existing file is opened as it is; only a missing one is created, and
  // then exclusively, so that nothing found at the name is ever truncated
  // before it has been checked.
  int fd = -1;
  bool made = false;
  for (int attempt = 0; attempt < 3 && fd < 0; ++attempt) {
    fd = ::open(name, kOpenFlags);
    if (fd >= 0 || errno != ENOENT) break;
    fd = ::open(name, kOpenFlags | O_CREAT | O_EXCL, 0666);
    if (fd >= 0) {
      made = true;
    } else if (errno != EEXIST) {
      break;
    }
  }
  if (fd < 0) {
    lastError_ = errno;
    return OutputOpenStatus::kFailed;
  }
  descriptor_ = fd;
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    lastError_ = errno;
    close();
    return OutputOpenStatus::kFailed;
  }
  identity_ = identityOf(info);
  if (!S_ISREG(info.st_mode)) {
    lastError_ = EINVAL;
    close();
    return OutputOpenStatus::kNotRegular;
  }
  if (sameFile(identity_, input)) {
    lastError_ = EINVAL;
    close();
    return OutputOpenStatus::kSameAsInput;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    lastError_ = errno;
    const bool busy = errno == EWOULDBLOCK;
    close();
    return busy ? OutputOpenStatus::kBusy : OutputOpenStatus::kFailed;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    lastError_ = errno;
    close();
    return OutputOpenStatus::kFailed;
  }
  if (mode == OutputOpenMode::kReplace && !made && info.st_size != 0) {
    if (::ftruncate(fd, 0) != 0) {
      lastError_ = errno;
      close();
      return OutputOpenStatus::kFailed;
    }
  }
  created_ = made || mode == OutputOpenMode::kReplace;
  return OutputOpenStatus::kOk;
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

bool OutputFile::close() {
  if (descriptor_ < 0) return true;
  // The descriptor is gone whatever close says (EINTR included on Linux);
  // the lock goes with it.
  const bool ok = ::close(descriptor_) == 0;
  if (!ok) lastError_ = errno;
  descriptor_ = -1;
  return ok;
}

bool outputFileRemoveIfSame(const char* name, const FileIdentity& identity) {
  struct stat info {};
  if (name == nullptr || ::lstat(name, &info) != 0 || !S_ISREG(info.st_mode) ||
      !sameFile(identityOf(info), identity)) {
    return false;
  }
  return ::unlink(name) == 0;
}
