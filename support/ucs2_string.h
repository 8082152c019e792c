// Routines over NUL-terminated UTF-16 strings (arrays of char16_t), as the
// path and folder code needs them. Every routine stops at the first NUL
// unit; none of them knows about surrogate pairs or code pages.
//
// Thread-safety: pure functions over caller-owned buffers.
#pragma once

#include <cstddef>
#include <cstdint>

// Copies at most `limit` bytes of the narrow string `source` (fewer when it
// ends earlier), each byte zero-extended to one unit, then stores a NUL.
// Returns the position of that NUL.
// REQUIRES: destination holds limit + 1 units; source non-null.
char16_t* ucs2FromNarrowCpy(char16_t* destination, const char* source,
                            size_t limit);

// Copies `source` with its NUL; returns `destination`.
// REQUIRES: destination holds ucs2Len(source) + 1 units; no overlap.
char16_t* ucs2Cpy(char16_t* destination, const char16_t* source);

// Appends `source` with its NUL at the NUL of `destination`; returns
// `destination`.
// REQUIRES: destination holds both strings and a NUL; no overlap.
char16_t* ucs2Cat(char16_t* destination, const char16_t* source);

// Number of units before the NUL.
size_t ucs2Len(const char16_t* text);

// First unit equal to `unit`, or null. Searching for 0 yields the NUL.
const char16_t* ucs2Chr(const char16_t* text, char16_t unit);
inline char16_t* ucs2Chr(char16_t* text, char16_t unit) {
  return const_cast<char16_t*>(
      ucs2Chr(static_cast<const char16_t*>(text), unit));
}

// Last unit equal to `unit`, or null. Searching for 0 yields the NUL.
const char16_t* ucs2RChr(const char16_t* text, char16_t unit);
inline char16_t* ucs2RChr(char16_t* text, char16_t unit) {
  return const_cast<char16_t*>(
      ucs2RChr(static_cast<const char16_t*>(text), unit));
}

// Compares at most `n` units with ASCII A-Z folded to a-z (nothing else is
// folded). Returns folded(a) - folded(b) of the first differing units taken
// as unsigned 16-bit values, or 0 after n units or at a NUL both share.
int32_t ucs2NICmp(const char16_t* a, const char16_t* b, size_t n);
