// The executable's path from the module table (GetModuleFileNameW); under
// Wine it is a drive path such as Z:\...\hearkener.exe.
#include <windows.h>

#include "support/program_folder.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t");

int32_t programPath(char16_t* buffer, size_t size) {
  if (buffer == nullptr || size == 0 || size > 0xFFFFFFFFu) return -1;
  const DWORD length = GetModuleFileNameW(
      nullptr, reinterpret_cast<wchar_t*>(buffer), static_cast<DWORD>(size));
  // A path that does not fit comes back cut, with the full buffer's length.
  if (length == 0 || length >= size) return -1;
  return static_cast<int32_t>(length);
}
