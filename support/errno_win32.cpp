#include "support/errno_win32.h"

#include <windows.h>

#include <cerrno>

int errnoFromWin32(unsigned long error) {
  struct Mapping {
    unsigned long error;
    int errnoValue;
  };
  static constexpr Mapping kMappings[] = {
      {ERROR_FILE_NOT_FOUND, ENOENT},
      {ERROR_PATH_NOT_FOUND, ENOENT},
      {ERROR_INVALID_DRIVE, ENOENT},
      {ERROR_BAD_NETPATH, ENOENT},
      {ERROR_BAD_NET_NAME, ENOENT},
      {ERROR_BAD_PATHNAME, ENOENT},
      {ERROR_ACCESS_DENIED, EACCES},
      {ERROR_WRITE_PROTECT, EACCES},
      {ERROR_SHARING_VIOLATION, EBUSY},
      {ERROR_LOCK_VIOLATION, EBUSY},
      {ERROR_FILE_EXISTS, EEXIST},
      {ERROR_ALREADY_EXISTS, EEXIST},
      {ERROR_DISK_FULL, ENOSPC},
      {ERROR_HANDLE_DISK_FULL, ENOSPC},
      {ERROR_NOT_ENOUGH_MEMORY, ENOMEM},
      {ERROR_OUTOFMEMORY, ENOMEM},
      {ERROR_TOO_MANY_OPEN_FILES, EMFILE},
      {ERROR_FILENAME_EXCED_RANGE, ENAMETOOLONG},
      {ERROR_INVALID_HANDLE, EBADF},
      {ERROR_INVALID_NAME, EINVAL},
      {ERROR_INVALID_PARAMETER, EINVAL},
      {ERROR_NEGATIVE_SEEK, EINVAL},
      {ERROR_DIRECTORY, ENOTDIR},
  };
  for (const Mapping& mapping : kMappings) {
    if (mapping.error == error) return mapping.errnoValue;
  }
  return EIO;
}

