// In a console the line is rewritten after a carriage return, and the rest
// of a longer previous text is overwritten with blanks, after which the
// text is written again so the cursor stands at its end.
#include <windows.h>

#include <cstring>

#include "support/console_live_line.h"

int32_t liveLineColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) {
    return 0;
  }
  return info.srWindow.Right - info.srWindow.Left + 1;
}

void liveLineWrite(const char* text, size_t length, size_t shown) {
  char bytes[1024];
  constexpr size_t kMost = (sizeof bytes - 2) / 3;
  if (length > kMost) length = kMost;
  if (shown > kMost) shown = kMost;
  size_t total = 0;
  bytes[total++] = '\r';
  std::memcpy(bytes + total, text, length);
  total += length;
  if (shown > length) {
    std::memset(bytes + total, ' ', shown - length);
    total += shown - length;
    bytes[total++] = '\r';
    std::memcpy(bytes + total, text, length);
    total += length;
  }
  const HANDLE handle = ::GetStdHandle(STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
  const DWORD savedError = ::GetLastError();
  size_t done = 0;
  while (done < total) {
    DWORD written = 0;
    if (!::WriteFile(handle, bytes + done, static_cast<DWORD>(total - done),
                     &written, nullptr) ||
        written == 0) {
      break;
    }
    done += written;
  }
  ::SetLastError(savedError);
}
