// On Windows a process started without a console or with a standard handle
// closed gets CRT descriptors 0, 1 and 2 that are not open (_get_osfhandle
// gives -2 or an invalid handle). Each such descriptor is pointed at "NUL",
// so the numbers stay taken and writes to them go nowhere.
#include <fcntl.h>
#include <io.h>

#include "support/standard_streams.h"

namespace {

bool isClosed(int descriptor) {
  const intptr_t handle = _get_osfhandle(descriptor);
  return handle == -1 || handle == -2;
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
