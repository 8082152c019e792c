// The `%` directive grammar shared by the wide and the narrow formatting
// engine: flags, width, precision, one size modifier and the conversion
// letter, and which argument a directive takes. The engines use this parser,
// so anything that must know how a format consumes its arguments (a fuzzer
// building a safe argument list, for one) sees exactly what the engines see.
//
// Thread-safety: pure functions.
#pragma once

#include <cstdint>

// Conversion-state flag bits of one directive.
enum FormatFlag : uint32_t {
  kFormatSpace = 1u << 0,      // ' ': a non-negative signed number gets ' '
  kFormatAlternate = 1u << 1,  // '#': 0 before octal, 0x/0X before hex
  kFormatPlus = 1u << 2,       // '+': a non-negative signed number gets '+'
  kFormatLeft = 1u << 3,       // '-': left-justify inside the width
  kFormatZero = 1u << 4,       // '0': fill with '0' instead of ' '
  kFormatWidthGiven = 1u << 5,
  kFormatPrecisionGiven = 1u << 6,
  kFormatSigned = 1u << 7,  // the conversion is d or i
};

// The one size modifier a directive may carry.
enum class FormatSize : uint8_t {
  kDefault,   // none: 32-bit integers, narrow strings
  kShort,     // h: 16-bit integers, %hn stores 16 bits
  kLong,      // l: 32-bit integers, wide (UTF-16) strings
  kLongLong,  // ll: 64-bit integers, %lln stores 64 bits
  kLongL,     // L: 64-bit integers
  kUtf8,      // D or N: the wide engine converts %s from UTF-8
};

// What a directive takes from the argument list, after any `*` ints.
enum class FormatArg : uint8_t {
  kNone,          // %r, %%, unknown letters
  kInt,           // int (32-bit): d i u o x X b c without a 16/64-bit size
  kShort,         // int carrying a 16-bit value (h): d i u o x X b
  kLongLong,      // long long (64-bit): ll or L with d i u o x X b
  kPointer,       // void*: p
  kNarrowString,  // const char*: s
  kWideString,    // const char16_t*: ls
  kCount16,       // int16_t*: hn
  kCount32,       // int32_t*: n, ln, Ln, Dn, Nn
  kCount64,       // int64_t*: lln
};

struct FormatDirective {
  uint32_t flags;         // FormatFlag bits as written (no `*` applied yet)
  int32_t width;          // digits as written, saturated at INT32_MAX
  int32_t precision;      // digits as written ("." alone is 0), saturated
  bool widthFromArg;      // width is `*`: the next int argument
  bool precisionFromArg;  // precision is `*`: the next int argument
  FormatSize size;
  char conversion;  // the letter; '\0' when the format ended in the directive
};

// Parses one directive. `text` points just past its '%'. Fills `*directive`
// and returns the position after the conversion letter, or the position of
// the format's terminating NUL when the format ends inside the directive
// (then directive->conversion is '\0'). Takes no arguments: `*` is recorded
// in widthFromArg/precisionFromArg for the caller to resolve in that order.
// REQUIRES: text and directive non-null; text NUL-terminated.
const char* formatParseDirective(const char* text, FormatDirective* directive);

// The argument that the conversion of `directive` takes (the same for both
// engines).
FormatArg formatArgOf(const FormatDirective& directive);
