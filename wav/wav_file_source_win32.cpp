// The WAV file source's opening of its file through the wide API. Names are
// UTF-8 and converted to UTF-16 at the system call.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "support/debug_trace.h"
#include "support/errno_win32.h"
#include "support/scoped_handle_win32.h"
#include "support/utf_convert.h"
#include "wav/wav_file_source.h"

namespace {

// The longest piece one ReadFile is asked for.
constexpr size_t kMaxReadBytes = 1u << 30;

}  // namespace

FILE* wavSourceOpenFile(const char* fileName, int* error) {
  *error = ENOENT;
  if (fileName == nullptr) return nullptr;
  std::u16string wide(std::strlen(fileName) + 1, u'\0');
  if (utf8ToUtf16Convert(&wide[0], fileName, wide.size()).status !=
      UtfStatus::kOk) {
    *error = EINVAL;
    return nullptr;
  }
  const auto* wideName = reinterpret_cast<const wchar_t*>(wide.c_str());
  // No security attributes: the handle is not inherited. Others may keep
  // reading, writing and renaming the file, as they may on POSIX systems; a
  // folder fails to open without FILE_FLAG_BACKUP_SEMANTICS.
  ScopedHandle file(::CreateFileW(
      wideName, GENERIC_READ,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
      nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    const DWORD failed = ::GetLastError();
    // A folder is refused as access denied; say what POSIX systems say.
    const DWORD attributes = ::GetFileAttributesW(wideName);
    *error = failed == ERROR_ACCESS_DENIED &&
                     attributes != INVALID_FILE_ATTRIBUTES &&
                     (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                 ? EISDIR
                 : errnoFromWin32(failed);
    return nullptr;
  }
  if (::GetFileType(file.get()) != FILE_TYPE_DISK) {
    debugTrace("not a regular file: %s\n", fileName);
    *error = 0;
    return nullptr;
  }
  const int descriptor = ::_open_osfhandle(
      reinterpret_cast<intptr_t>(file.get()), _O_RDONLY | _O_BINARY);
  if (descriptor < 0) {
    *error = EMFILE;
    return nullptr;
  }
  file.release();  // the descriptor owns it now
  FILE* stream = ::_fdopen(descriptor, "rb");
  if (stream == nullptr) {
    *error = ENOMEM;
    ::_close(descriptor);
  }
  return stream;
}

int64_t wavSourceReadAt(FILE* stream, uint64_t offset, void* buffer,
                        size_t size, int* error) {
  const auto file =
      reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  if (file == INVALID_HANDLE_VALUE) {
    *error = EBADF;
    return -1;
  }
  if (size > kMaxReadBytes) size = kMaxReadBytes;
  // The offset travels in the OVERLAPPED record; the stream's buffer and
  // position are not used.
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  if (!::ReadFile(file, buffer, static_cast<DWORD>(size), &got, &at)) {
    const DWORD failed = ::GetLastError();
    if (failed == ERROR_HANDLE_EOF) return 0;
    *error = errnoFromWin32(failed);
    return -1;
  }
  return static_cast<int64_t>(got);
}

void wavSourceAdviseSequential(FILE* /*stream*/, uint64_t /*offset*/) {
  // The file was opened with FILE_FLAG_SEQUENTIAL_SCAN: nothing to add.
}
