// File utilities that take UTF-8 paths.
//
// Thread-safety: each call is independent; the caller owns every buffer.
#pragma once

#include <cstdint>

// Removes the file named by the UTF-8 path. Returns 0, or -1 with errno set.
int32_t utf8Unlink(const char* path);
