// The two printf-style formatting engines of the support library: one
// grammar, two output widths. utf16FormatCore produces UTF-16 code units,
// utf8FormatCore produces bytes. The format is narrow (bytes) for both.
// Most callers want the terminating wrappers in text_format.h.
//
// Grammar of a directive: % [flags] [width] [.precision] [size] letter
//   flags      ' ' '+' (sign for non-negative d/i; '+' wins), '-' (left-
//              justify; wins over '0'), '0' (zero fill), '#' (0 before
//              octal digits, 0x/0X before non-zero hex values)
//   width      digits or '*' (next int; a negative one left-justifies)
//   precision  '.' then digits (none = 0) or '*' (next int; negative = none);
//              minimum digit count for numbers, maximum units for %s
//   size       h 16-bit, l 32-bit (also: %ls is a UTF-16 string), ll and L
//              64-bit, D or N (%Ds: UTF-8 string, converted by the wide
//              engine); exactly one is taken. Note that l is 32-bit on every
//              platform: pass 64-bit values (size_t, int64_t) with ll.
//   letter     d i (int), u o x X b (unsigned; b is binary, never a prefix),
//              p (pointer: 0x and lower-case hex digits when non-zero),
//              c (int; one unit of its low 16 or 8 bits), s (string; null
//              prints "(null)"), n (stores the units produced so far through
//              an int16_t*, int64_t* (ll) or int32_t* pointer), r (nothing).
//              Any other byte, '%' included, is written as itself without
//              fill and takes no argument. A format that ends inside a
//              directive ends the output there.
// In the wide engine %s and %hs/%Ls/%lls widen each byte of a narrow string
// to one unit (at most 8191 bytes); in the narrow engine %ls converts a
// UTF-16 string to UTF-8 (at most 8191 bytes). A conversion that fails part
// way shows the text converted up to that point.
//
// Neither engine allocates; each uses about 16 KB (wide) or 8 KB (narrow)
// of stack for a string conversion.
//
// Thread-safety: no shared state; any number of threads may format at once
// into different sinks.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "support/format_sink.h"

// Formats `format` with `args` into `sink`, from sink->count on, storing a
// unit only while count < capacity; writes no terminator. Returns the units
// produced (sink->count at the end), or, once the sink is full, a negative
// value at once: the units produced including all that the directive or
// byte being written would have added, negated (-1 if that is 0, saturated
// at -INT32_MAX); the units stored so far stay. A null format produces
// nothing. `args` is left untouched (the engine works on a copy).
// REQUIRES: sink non-null; the arguments match the directives (see above).
int32_t utf16FormatCore(const char* format, va_list args,
                        Utf16FormatSink* sink);

// The narrow engine: as utf16FormatCore, producing bytes.
int32_t utf8FormatCore(const char* format, va_list args, Utf8FormatSink* sink);
