#include <unistd.h>

#include "support/program_folder.h"
#include "support/utf_convert.h"

int32_t programPath(char16_t* buffer, size_t size) {
  char path[4096];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return -1;
  path[length] = '\0';
  const UtfCopyResult copied = utf8ToUtf16Convert(buffer, path, size);
  if (copied.status != UtfStatus::kOk) return -1;
  return static_cast<int32_t>(copied.written - 1);
}
