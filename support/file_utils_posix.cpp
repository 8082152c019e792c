// The file operations over POSIX calls: wide paths become UTF-8 at the call;
// the utf8* entry points pass their bytes on unchanged.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "support/console_report.h"
#include "support/file_utils.h"
#include "support/file_utils_platform.h"
#include "support/utf_convert.h"

namespace {

// Bytes of a system path, terminator included (PATH_MAX).
constexpr size_t kSystemPathBytes = 4096;

// The system form of `path`, or false (errno set) when it does not convert.
bool systemPath(const char16_t* path, char (&out)[kSystemPathBytes]) {
  if (path == nullptr) {
    errno = EINVAL;
    return false;
  }
  return pathConverted(utf16ToUtf8Convert(out, path, kSystemPathBytes));
}

// A name given as bytes, or false (errno set) when it is null or longer
// than the system takes.
bool byteNameUsable(const char* name) {
  return fileNameFits(name, kSystemPathBytes);
}

// The open of utf8FopenNoInherit for a system name.
FILE* fopenNoInherit(const char* name, const char* mode) {
  // 'e' asks for O_CLOEXEC at the open itself, so no child started by
  // another thread in between can inherit the descriptor.
  char closeOnExecMode[kMaxModeLength + 2];
  std::strcpy(closeOnExecMode, mode);
  std::strcat(closeOnExecMode, "e");
  FILE* stream = std::fopen(name, closeOnExecMode);
  if (stream == nullptr) return nullptr;
  const int descriptor = fileno(stream);
  const int flags = fcntl(descriptor, F_GETFD);
  if (flags < 0 || ((flags & FD_CLOEXEC) == 0 &&
                    fcntl(descriptor, F_SETFD, flags | FD_CLOEXEC) != 0)) {
    consoleReport("Could not set handle of %Ds to non-inherit (%d)\r\n", name,
                  errno);
  }
  return stream;
}

// Stores the current directory in `buffer` (`size` units); false (errno
// ERANGE) when it does not fit, or on failure.
bool currentDirectory(char16_t* buffer, size_t size) {
  char name[kSystemPathBytes];
  if (::getcwd(name, sizeof name) == nullptr) return false;
  const UtfCopyResult copied = utf8ToUtf16Convert(buffer, name, size);
  if (copied.status == UtfStatus::kOk) return true;
  errno = copied.status == UtfStatus::kTargetExhausted ? ERANGE : EILSEQ;
  return false;
}

}  // namespace

// The name's bytes go to the system as they are: a POSIX file name is any
// byte string, UTF-8 or not.
FILE* utf8FopenNoInherit(const char* path, const char* mode) {
  if (!byteNameUsable(path) || !fileModeUsable(mode)) return nullptr;
  return fopenNoInherit(path, mode);
}

int32_t utf16Mkdir(const char16_t* path) {
  char name[kSystemPathBytes];
  if (!systemPath(path, name)) return -1;
  return ::mkdir(name, 0777) == 0 ? 0 : -1;
}

int32_t utf8Mkdir(const char* path) {
  if (!byteNameUsable(path)) return -1;
  return ::mkdir(path, 0777) == 0 ? 0 : -1;
}

int32_t utf8CreateNew(const char* path) {
  if (!byteNameUsable(path)) return -1;
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                        0666);
  if (fd < 0) return -1;
  ::close(fd);
  return 0;
}

// There are no drive letters here: a name such as "C:" is an ordinary
// relative name and resolves against the current directory.
char16_t* systemFullPath(char16_t* destination, const char16_t* path,
                         size_t size) {
  char16_t base[kPathUnits] = {u'/', 0};
  if (path[0] != u'/' && path[0] != u'\\' &&
      !currentDirectory(base, kPathUnits)) {
    return nullptr;
  }
  if (!utf16NormalisePath(destination, base, path, size)) {
    errno = ERANGE;
    return nullptr;
  }
  return destination;
}
