// The running executable's own path, as the system names it.
//
// Thread-safety: callable from any thread.
#pragma once

#include <cstddef>
#include <cstdint>

// Stores the full path of the running executable in `buffer` (`size`
// units). Returns its length in units, or -1 when the system cannot name it
// or it does not fit.
int32_t programPath(char16_t* buffer, size_t size);
