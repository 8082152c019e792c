// printf-style formatting into caller-owned buffers of fixed size, in UTF-16
// (utf16...) or in bytes (utf8...). The grammar is described in
// format_core.h; these wrappers add the terminator and the result rule:
//
//   - the output fits (at most capacity - 1 units): it is terminated and
//     the number of units, terminator excluded, is returned;
//   - otherwise the unit at capacity - 1 is overwritten with NUL and
//     -capacity is returned. A negative result therefore always means the
//     buffer holds a truncated, terminated text.
//
// A null format produces an empty text. Nothing is allocated.
// REQUIRES (every wrapper): the arguments match the directives of the
// format; the buffer holds `capacity` units.
//
// Thread-safety: no shared state; the caller owns the buffer.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

// Formats into `buffer` of `capacity` units. A capacity above INT32_MAX
// counts as INT32_MAX. A capacity of 0 (or a null buffer) stores nothing
// and returns -1.
int32_t utf16Vsnprintf(char16_t* buffer, size_t capacity, const char* format,
                       va_list args);

// The variadic form of utf16Vsnprintf.
int32_t utf16Snprintf(char16_t* buffer, size_t capacity, const char* format,
                      ...);

// Formats into `buffer` of `capacity` bytes; capacity as utf16Vsnprintf.
int32_t utf8Snprintf(char* buffer, size_t capacity, const char* format, ...);

// The va_list form of utf8Snprintf.
int32_t utf8Vsnprintf(char* buffer, size_t capacity, const char* format,
                      va_list args);
