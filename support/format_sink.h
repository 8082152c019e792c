// FormatSink: where one formatting call puts its output. The sink wraps a
// buffer of fixed size that the caller owns; the engines store a unit only
// while `count` is below `capacity` and never write a terminator (the
// wrappers in text_format.h do that).
//
// Thread-safety: a sink belongs to the one call that fills it.
#pragma once

#include <cstdint>

template <typename Unit>
struct FormatSink {
  Unit* text;        // the caller's buffer; may be null only when capacity is 0
  int32_t count;     // units stored so far; 0 for a fresh sink
  int32_t capacity;  // units the buffer holds, the terminator included
};

// The wide engine's sink (UTF-16 code units) and the narrow engine's (bytes).
using Utf16FormatSink = FormatSink<char16_t>;
using Utf8FormatSink = FormatSink<char>;
