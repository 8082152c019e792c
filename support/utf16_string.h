// Routines over NUL-terminated UTF-16 strings (arrays of char16_t), as the
// path and folder code needs them. Every routine stops at the first NUL
// unit; none of them knows about surrogate pairs or code pages.
//
// Thread-safety: pure functions over caller-owned buffers.
#pragma once

#include <cstddef>

// Copies at most `limit` bytes of the narrow string `source` (fewer when it
// ends earlier), each byte zero-extended to one unit, then stores a NUL.
// Returns the position of that NUL.
// REQUIRES: destination holds limit + 1 units; source non-null.
char16_t* utf16FromNarrowCpy(char16_t* destination, const char* source,
                             size_t limit);

// Number of units before the NUL.
size_t utf16Len(const char16_t* text);
