// On Windows the standard descriptors 0, 1 and 2 of the runtime come from
// the process's standard handles. A process started without them (detached,
// or with a handle closed) gets none, and console text would go nowhere or,
// once a file takes the number, into that file. Each missing one is pointed
// at "NUL"; the runtime's _dup2 also makes it the standard handle again.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include "support/standard_streams.h"

namespace {

// Judged by the standard handle, not the descriptor: asking the runtime
// about a descriptor that is not open may end in its invalid-parameter
// handler.
bool isClosed(int descriptor) {
  constexpr DWORD kStandardHandles[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE,
                                        STD_ERROR_HANDLE};
  const HANDLE handle = GetStdHandle(kStandardHandles[descriptor]);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return true;
  SetLastError(NO_ERROR);
  return GetFileType(handle) == FILE_TYPE_UNKNOWN &&
         GetLastError() != NO_ERROR;
}

}  // namespace

void standardStreamsEnsureOpen() {
  for (int descriptor = 0; descriptor <= 2; ++descriptor) {
    if (!isClosed(descriptor)) continue;
    const int opened = _open("NUL", (descriptor == 0 ? _O_RDONLY : _O_WRONLY) |
                                        _O_BINARY | _O_NOINHERIT);
    if (opened < 0 || opened == descriptor) continue;
    _dup2(opened, descriptor);  // on failure it stays closed
    _close(opened);
  }
}
