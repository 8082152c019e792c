// OutputFile over Win32 file handles, each held as a C runtime descriptor
// (which owns and closes it). Names are UTF-8, converted to UTF-16 at the
// system call. Errors are kept as errno values, so that callers can report
// them with systemErrorText on every platform.
//
// The hold against other runs is an exclusive lock of one byte far beyond
// any real length: other programs may still read the recording while it is
// being written, as on POSIX systems, but a second run's lock fails. The
// handles share reading, writing and deletion, so that the run's own input
// is recognised by its identity rather than refused by a sharing violation.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "support/errno_win32.h"
#include "support/scoped_handle_win32.h"
#include "support/utf_convert.h"
#include "wav/output_file.h"
#include "wav/output_file_system.h"

namespace {

constexpr DWORD kShareAll =
    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
constexpr uint64_t kHoldOffset = uint64_t{1} << 62;
// The longest piece one ReadFile or WriteFile is asked for.
constexpr size_t kMaxPieceBytes = size_t{1} << 30;

int lastErrno() { return errnoFromWin32(::GetLastError()); }

// `name` as UTF-16 in *wide. False (errno value in *error) when it is empty
// or not UTF-8.
bool wideName(const char* name, std::u16string* wide, int* error) {
  if (name == nullptr || name[0] == '\0') {
    *error = ENOENT;
    return false;
  }
  wide->assign(std::strlen(name) + 1, u'\0');
  if (utf8ToUtf16Convert(&(*wide)[0], name, wide->size()).status !=
      UtfStatus::kOk) {
    *error = EINVAL;
    return false;
  }
  return true;
}

const wchar_t* asWide(const std::u16string& name) {
  return reinterpret_cast<const wchar_t*>(name.c_str());
}

HANDLE handleOf(int descriptor) {
  return reinterpret_cast<HANDLE>(::_get_osfhandle(descriptor));
}

// The volume serial number and file index of an open file, as device and
// inode.
bool identityOfHandle(HANDLE file, FileIdentity* identity,
                      DWORD* attributes = nullptr) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file, &info)) return false;
  identity->device = info.dwVolumeSerialNumber;
  identity->inode = static_cast<uint64_t>(info.nFileIndexHigh) << 32 |
                    info.nFileIndexLow;
  identity->known = true;
  if (attributes != nullptr) *attributes = info.dwFileAttributes;
  return true;
}

OVERLAPPED overlappedAt(uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

// CreateFileW with `disposition`, held as a descriptor; `other` (with the
// error `otherError`) is the outcome that is no failure.
FileOpenOutcome openHandle(const char* name, DWORD disposition,
                           DWORD otherError, FileOpenOutcome other,
                           int* descriptor, int* error) {
  std::u16string wide;
  if (!wideName(name, &wide, error)) return FileOpenOutcome::kFailed;
  const HANDLE file =
      ::CreateFileW(asWide(wide), GENERIC_READ | GENERIC_WRITE, kShareAll,
                    nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD failure = ::GetLastError();
    if (failure == otherError) return other;
    *error = errnoFromWin32(failure);
    return FileOpenOutcome::kFailed;
  }
  *descriptor = ::_open_osfhandle(reinterpret_cast<intptr_t>(file),
                                  _O_RDWR | _O_BINARY);
  if (*descriptor >= 0) return FileOpenOutcome::kOpened;
  ::CloseHandle(file);
  *error = EMFILE;
  return FileOpenOutcome::kFailed;
}

}  // namespace

FileIdentity fileIdentityOfPath(const char* name) {
  std::u16string wide;
  int error = 0;
  if (!wideName(name, &wide, &error)) return FileIdentity();
  // FILE_FLAG_BACKUP_SEMANTICS: folders have identities too.
  const ScopedHandle file(::CreateFileW(asWide(wide), FILE_READ_ATTRIBUTES,
                                        kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  FileIdentity identity;
  if (file.get() == INVALID_HANDLE_VALUE ||
      !identityOfHandle(file.get(), &identity)) {
    return FileIdentity();
  }
  return identity;
}

FileOpenOutcome outputFileOpenExisting(const char* name, int* descriptor,
                                       int* error) {
  return openHandle(name, OPEN_EXISTING, ERROR_FILE_NOT_FOUND,
                    FileOpenOutcome::kMissing, descriptor, error);
}

FileOpenOutcome outputFileCreateNew(const char* name, int* descriptor,
                                    int* error) {
  return openHandle(name, CREATE_NEW, ERROR_FILE_EXISTS,
                    FileOpenOutcome::kExists, descriptor, error);
}

bool outputFileInspect(int descriptor, FileIdentity* identity, bool* regular,
                       int* error) {
  const HANDLE file = handleOf(descriptor);
  *regular = ::GetFileType(file) == FILE_TYPE_DISK;
  if (!*regular) return true;
  if (identityOfHandle(file, identity)) return true;
  *error = lastErrno();
  return false;
}

bool outputFileLock(int descriptor, bool* busy, int* error) {
  OVERLAPPED hold = overlappedAt(kHoldOffset);
  if (::LockFileEx(handleOf(descriptor),
                   LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                   &hold)) {
    return true;
  }
  const DWORD failure = ::GetLastError();
  *error = errnoFromWin32(failure);
  *busy = failure == ERROR_LOCK_VIOLATION;
  return false;
}

// Reads and writes of these handles block already.
bool outputFileSettle(int /*descriptor*/, int* /*error*/) { return true; }

int64_t OutputFile::length() {
  LARGE_INTEGER size{};
  if (descriptor_ < 0 || !::GetFileSizeEx(handleOf(descriptor_), &size)) {
    lastError_ = descriptor_ < 0 ? EBADF : lastErrno();
    return -1;
  }
  return static_cast<int64_t>(size.QuadPart);
}

bool OutputFile::readAt(uint64_t offset, void* bytes, size_t size) {
  auto* at = static_cast<uint8_t*>(bytes);
  while (size > 0) {
    const size_t piece = size < kMaxPieceBytes ? size : kMaxPieceBytes;
    OVERLAPPED where = overlappedAt(offset);
    DWORD got = 0;
    if (!::ReadFile(handleOf(descriptor_), at, static_cast<DWORD>(piece), &got,
                    &where)) {
      const DWORD error = ::GetLastError();
      lastError_ = error == ERROR_HANDLE_EOF ? 0 : errnoFromWin32(error);
      return false;
    }
    if (got == 0) {
      lastError_ = 0;
      return false;
    }
    at += got;
    size -= got;
    offset += got;
  }
  return true;
}

bool OutputFile::writeAt(uint64_t offset, const void* bytes, size_t size,
                         size_t* written) {
  const auto* at = static_cast<const uint8_t*>(bytes);
  size_t done = 0;
  bool ok = true;
  while (done < size) {
    const size_t left = size - done;
    const size_t piece = left < kMaxPieceBytes ? left : kMaxPieceBytes;
    OVERLAPPED where = overlappedAt(offset + done);
    DWORD put = 0;
    if (!::WriteFile(handleOf(descriptor_), at + done,
                     static_cast<DWORD>(piece), &put, &where)) {
      lastError_ = lastErrno();
      ok = false;
      break;
    }
    if (put == 0) {
      lastError_ = ENOSPC;
      ok = false;
      break;
    }
    done += put;
  }
  if (written != nullptr) *written = done;
  return ok;
}

bool OutputFile::truncate(uint64_t length) {
  const HANDLE file = handleOf(descriptor_);
  LARGE_INTEGER end{};
  end.QuadPart = static_cast<LONGLONG>(length);
  if (file != INVALID_HANDLE_VALUE &&
      ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN) &&
      ::SetEndOfFile(file)) {
    return true;
  }
  lastError_ = file == INVALID_HANDLE_VALUE ? EBADF : lastErrno();
  return false;
}

// Closes the handle too.
bool outputFileRelease(int descriptor, int* error) {
  if (::_close(descriptor) == 0) return true;
  *error = errno;
  return false;
}

bool outputFileRemoveIfSame(const char* name, const FileIdentity& identity) {
  std::u16string wide;
  int error = 0;
  if (!wideName(name, &wide, &error)) return false;
  // The link itself, never what it leads to; the very file checked is the
  // one marked for deletion, so nothing put at the name meanwhile is lost.
  const ScopedHandle file(::CreateFileW(
      asWide(wide), DELETE | FILE_READ_ATTRIBUTES, kShareAll, nullptr,
      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE ||
      ::GetFileType(file.get()) != FILE_TYPE_DISK) {
    return false;
  }
  FileIdentity found;
  DWORD attributes = 0;
  if (!identityOfHandle(file.get(), &found, &attributes) ||
      (attributes &
       (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0 ||
      !sameFile(found, identity)) {
    return false;
  }
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return ::SetFileInformationByHandle(file.get(), FileDispositionInfo,
                                      &disposition, sizeof disposition) != 0;
}
