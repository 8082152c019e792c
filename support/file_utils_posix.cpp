#include <cerrno>

#include <unistd.h>

#include "support/file_utils.h"

int32_t utf8Unlink(const char* path) {
  if (path == nullptr) {
    errno = EINVAL;
    return -1;
  }
  return ::unlink(path) == 0 ? 0 : -1;
}
