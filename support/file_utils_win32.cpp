// The file operations over the wide CRT and Win32 calls. Paths are UTF-16
// already; the utf8* entry points convert from UTF-8 (the program's argv is
// UTF-8 on Windows). Win32 failures are turned into errno values in one
// place (errno_win32.h); GetLastError keeps the system's own code.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>
#include <cwchar>

#include "support/console_report.h"
#include "support/errno_win32.h"
#include "support/file_utils.h"
#include "support/file_utils_platform.h"
#include "support/utf_convert.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t");

namespace {

const wchar_t* asWide(const char16_t* text) {
  return reinterpret_cast<const wchar_t*>(text);
}

// Sets errno from the calling thread's last Win32 error; returns -1.
int32_t win32Failure() {
  errno = errnoFromWin32(GetLastError());
  return -1;
}

// The UTF-16 form of the UTF-8 `path`, or false (errno set) when it is
// null, does not fit kPathUnits units or is not UTF-8.
bool widePath(const char* path, char16_t (&out)[kPathUnits]) {
  return fileNameFits(path, kPathUnits) &&
         pathConverted(utf8ToUtf16Convert(out, path, kPathUnits));
}

DWORD clampedUnits(size_t size) {
  return size > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(size);
}

}  // namespace

// 'N' opens the descriptor not inheritable already; SetHandleInformation on
// the OS handle then makes sure of it and reports when it cannot.
FILE* utf8FopenNoInherit(const char* utf8Path, const char* mode) {
  char16_t path[kPathUnits];
  if (!fileModeUsable(mode) || !widePath(utf8Path, path)) return nullptr;
  wchar_t wideMode[kMaxModeLength + 2];
  size_t length = 0;
  for (; mode[length] != '\0'; ++length) {
    wideMode[length] = static_cast<wchar_t>(static_cast<unsigned char>(mode[length]));
  }
  wideMode[length++] = L'N';
  wideMode[length] = 0;
  FILE* stream = _wfopen(asWide(path), wideMode);
  if (stream == nullptr) return nullptr;
  const HANDLE handle =
      reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (handle == INVALID_HANDLE_VALUE ||
      !SetHandleInformation(handle, HANDLE_FLAG_INHERIT, 0)) {
    const int savedErrno = errno;
    consoleReport("Could not set handle of %ls to non-inherit (%d)\r\n", path,
                  static_cast<int>(GetLastError()));
    errno = savedErrno;
  }
  return stream;
}

int32_t utf16Mkdir(const char16_t* path) {
  if (path == nullptr) {
    errno = EINVAL;
    return -1;
  }
  return CreateDirectoryW(asWide(path), nullptr) ? 0 : win32Failure();
}

int32_t utf8Mkdir(const char* path) {
  char16_t wide[kPathUnits];
  if (!widePath(path, wide)) return -1;
  return utf16Mkdir(wide);
}

int32_t utf8CreateNew(const char* path) {
  char16_t wide[kPathUnits];
  if (!widePath(path, wide)) return -1;
  const HANDLE file =
      CreateFileW(asWide(wide), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return win32Failure();
  CloseHandle(file);
  return 0;
}

// A bare drive ("C:") names the drive's root, not its current directory.
char16_t* systemFullPath(char16_t* destination, const char16_t* path,
                         size_t size) {
  char16_t driveRoot[4];
  if (path[0] != 0 && path[1] == u':' && path[2] == 0) {
    driveRoot[0] = path[0];
    driveRoot[1] = u':';
    driveRoot[2] = u'\\';
    driveRoot[3] = 0;
    path = driveRoot;
  }
  const DWORD units = clampedUnits(size);
  if (units == 0) {
    errno = ERANGE;
    return nullptr;
  }
  const DWORD length =
      GetFullPathNameW(asWide(path), units,
                       reinterpret_cast<wchar_t*>(destination), nullptr);
  if (length == 0) {
    win32Failure();
    return nullptr;
  }
  if (length >= units) {
    errno = ERANGE;
    return nullptr;
  }
  return destination;
}
