#include "tools/tapd_emu/wav_writer.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "tools/tapd_emu/queue_stream.h"
#include "tools/tapd_emu/stop_signal.h"
#include "wav/output_file.h"
#include "wav/wav_header.h"

namespace tapd_emu {
namespace {

constexpr uint16_t kTagFramedControl = 0xF000;
constexpr uint16_t kTagFramed = 0xF001;
constexpr long kFormatTagOffset = 20;

struct FileCloser {
  void operator()(FILE* file) const { fclose(file); }
};

// A stdio stream's view of an OutputFile, for the WAV header routines.
struct Cursor {
  OutputFile* file;
  uint64_t position;
};

ssize_t readCursor(void* cookie, char* bytes, size_t size) {
  Cursor* cursor = static_cast<Cursor*>(cookie);
  const int64_t length = cursor->file->length();
  if (length < 0) {
    errno = cursor->file->lastError();
    return -1;
  }
  if (cursor->position >= static_cast<uint64_t>(length)) return 0;
  size = static_cast<size_t>(std::min<uint64_t>(
      size, static_cast<uint64_t>(length) - cursor->position));
  if (!cursor->file->readAt(cursor->position, bytes, size)) {
    errno = cursor->file->lastError() != 0 ? cursor->file->lastError() : EIO;
    return -1;
  }
  cursor->position += size;
  return static_cast<ssize_t>(size);
}

// Less than `size` (0 included) tells stdio that the write failed.
ssize_t writeCursor(void* cookie, const char* bytes, size_t size) {
  Cursor* cursor = static_cast<Cursor*>(cookie);
  size_t written = 0;
  if (!cursor->file->writeAt(cursor->position, bytes, size, &written)) {
    errno = cursor->file->lastError();
  }
  cursor->position += written;
  return static_cast<ssize_t>(written);
}

int seekCursor(void* cookie, off64_t* offset, int whence) {
  Cursor* cursor = static_cast<Cursor*>(cookie);
  int64_t base = 0;
  if (whence == SEEK_CUR) {
    base = static_cast<int64_t>(cursor->position);
  } else if (whence == SEEK_END) {
    base = cursor->file->length();
    if (base < 0) {
      errno = cursor->file->lastError();
      return -1;
    }
  }
  if (base + *offset < 0) {
    errno = EINVAL;
    return -1;
  }
  cursor->position = static_cast<uint64_t>(base + *offset);
  *offset = static_cast<off64_t>(cursor->position);
  return 0;
}

// The stream never closes the file: its OutputFile does.
int closeCursor(void*) { return 0; }

// The identity of what `path` names itself, a link not followed; unknown
// when it cannot be looked up or is not a regular file.
FileIdentity regularFileAt(const std::string& path, bool* isLink) {
  struct stat info {};
  FileIdentity identity;
  if (lstat(path.c_str(), &info) != 0) return identity;
  *isLink = S_ISLNK(info.st_mode);
  if (!S_ISREG(info.st_mode)) return identity;
  identity.device = static_cast<uint64_t>(info.st_dev);
  identity.inode = static_cast<uint64_t>(info.st_ino);
  identity.known = true;
  return identity;
}

const char* refusal(OutputOpenStatus status, int error) {
  switch (status) {
    case OutputOpenStatus::kNotRegular:
      return "not a regular file";
    case OutputOpenStatus::kSameAsInput:
      return "the queue's own source file, not overwritten";
    case OutputOpenStatus::kBusy:
      return "in use by another run";
    case OutputOpenStatus::kOk:
    case OutputOpenStatus::kFailed:
      break;
  }
  return strerror(error);
}

// The header layout's format type and, for a framed stream, the tag put
// over the A-law one.
int32_t formatType(WireEncoding encoding) {
  return encoding == WireEncoding::kUlaw ? kWavFormatUlaw : kWavFormatAlaw;
}

std::string writeAll(const ServedQueue& queue, FILE* file) {
  const int32_t type = formatType(queue.setup.encoding);
  if (wavBuildHeader(file, type, 1, 0) < 0) return "cannot write the header";
  if (queue.setup.encoding == WireEncoding::kFramed ||
      queue.setup.encoding == WireEncoding::kFramedControl) {
    const uint16_t tag = queue.setup.encoding == WireEncoding::kFramed
                             ? kTagFramed
                             : kTagFramedControl;
    const uint8_t bytes[2] = {static_cast<uint8_t>(tag & 0xFF),
                              static_cast<uint8_t>(tag >> 8)};
    if (fseek(file, kFormatTagOffset, SEEK_SET) != 0 ||
        fwrite(bytes, 1, 2, file) != 2 || fseek(file, 0, SEEK_END) != 0) {
      return "cannot write the header";
    }
  }
  QueueStream stream(queue.setup, queue.audio, false);
  std::string error = stream.start();
  if (!error.empty()) return error;
  std::vector<uint8_t> bytes;
  uint64_t length = static_cast<uint64_t>(wavHeaderLength(type, 1));
  for (uint64_t chunks = 0;; ++chunks) {
    // A stop leaves no half-written file (the caller removes it).
    if (chunks % 256 == 0 && stopRequested()) return "stopped";
    bytes.clear();
    const StreamStep step = stream.next(&bytes);
    if (step == StreamStep::kFailed) return "the encoder failed";
    if (step == StreamStep::kEnd) break;
    length += bytes.size();
    if (length > kWavMaxFileLength) return "the stream outgrows a WAV file";
    if (fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
      return strerror(errno);
    }
  }
  if (wavUpdateSizes(file, type, 1,
                     static_cast<uint32_t>(stream.framesDone())) != 0) {
    return "cannot patch the header";
  }
  return "";
}

}  // namespace

std::string writeQueueWav(const ServedQueue& queue, const std::string& path) {
  bool isLink = false;
  regularFileAt(path, &isLink);
  if (isLink) return path + ": a symbolic link, not followed";
  OutputFile file;
  // Nothing found at the name is changed by the open itself.
  const OutputOpenStatus status =
      file.open(path.c_str(), OutputOpenMode::kKeepContents,
                fileIdentityOfPath(queue.setup.path.c_str()));
  if (status != OutputOpenStatus::kOk) {
    return path + ": " + refusal(status, file.lastError());
  }
  // A link or another file put at the name meanwhile is left alone.
  if (!sameFile(regularFileAt(path, &isLink), file.identity())) {
    return path + ": replaced while being opened, not written";
  }
  if (!file.created() && !file.truncate(0)) {
    return path + ": " + strerror(file.lastError());
  }
  // From here on the file is this run's.
  Cursor cursor{&file, 0};
  std::unique_ptr<FILE, FileCloser> stream(fopencookie(
      &cursor, "w+b", {readCursor, writeCursor, seekCursor, closeCursor}));
  std::string error;
  if (!stream) {
    error = strerror(errno);
  } else {
    setvbuf(stream.get(), nullptr, _IOFBF, 1 << 16);
    error = writeAll(queue, stream.get());
    if (fclose(stream.release()) != 0 && error.empty()) error = strerror(errno);
  }
  if (!file.close() && error.empty()) error = strerror(file.lastError());
  if (error.empty()) return "";
  outputFileRemoveIfSame(path.c_str(), file.identity());
  return path + ": " + error;
}

}  // namespace tapd_emu
