#include "support/utf_convert.h"

#include <cstdint>
#include <cstring>

#include "support/debug_trace.h"

namespace {

constexpr char32_t kHighSurrogateFirst = 0xD800;
constexpr char32_t kHighSurrogateLast = 0xDBFF;
constexpr char32_t kLowSurrogateFirst = 0xDC00;
constexpr char32_t kLowSurrogateLast = 0xDFFF;
constexpr char32_t kMaxBmp = 0xFFFF;
constexpr char32_t kMaxCodePoint = 0x10FFFF;

// Trailing bytes announced by a lead byte: 00-BF 0, C0-DF 1, E0-EF 2,
// F0-F7 3, F8-FB 4, FC-FF 5.
int trailingBytes(uint8_t lead) {
  if (lead < 0xC0) return 0;
  if (lead < 0xE0) return 1;
  if (lead < 0xF0) return 2;
  if (lead < 0xF8) return 3;
  if (lead < 0xFC) return 4;
  return 5;
}

// Whether the `length` bytes at `s` form one well-formed UTF-8 sequence.
// Sequences of 5 and 6 bytes never do.
bool isLegalUtf8(const uint8_t* s, int length) {
  if (length < 1 || length > 4) return false;
  for (int i = 1; i < length; ++i) {
    if (s[i] < 0x80 || s[i] > 0xBF) return false;
  }
  if (length >= 2) {
    const uint8_t second = s[1];
    switch (s[0]) {
      case 0xE0:
        if (second < 0xA0) return false;
        break;
      case 0xED:
        if (second > 0x9F) return false;
        break;
      case 0xF0:
        if (second < 0x90) return false;
        break;
      case 0xF4:
        if (second > 0x8F) return false;
        break;
      default:
        break;
    }
  }
  return !(s[0] >= 0x80 && s[0] < 0xC2) && s[0] <= 0xF4;
}

void traceFailure(const char* routine, UtfStatus status) {
  debugTrace("%s: conversion failed (%s)\n", routine, utfStatusMessage(status));
}

UtfCopyResult convertUtf8ToUtf16(char16_t* destination, const char* text,
                                 size_t destinationSize) {
  const uint8_t* const start = reinterpret_cast<const uint8_t*>(text);
  const uint8_t* const end = start + std::strlen(text) + 1;
  const uint8_t* s = start;
  size_t written = 0;
  UtfStatus status = UtfStatus::kOk;

  while (s < end) {
    const int trail = trailingBytes(*s);
    if (trail >= end - s) {
      status = UtfStatus::kSourceExhausted;
      break;
    }
    if (!isLegalUtf8(s, trail + 1)) {
      status = UtfStatus::kSourceIllegal;
      break;
    }
    // Legal sequences are at most 4 bytes, so the lead's payload is the bits
    // below its length marker.
    char32_t c = static_cast<char32_t>(*s & (0x7F >> trail));
    for (int i = 1; i <= trail; ++i) c = (c << 6) | (s[i] & 0x3F);

    if (written >= destinationSize) {
      status = UtfStatus::kTargetExhausted;
      break;
    }
    if (c <= kMaxBmp) {
      if (c >= kHighSurrogateFirst && c <= kLowSurrogateLast) {
        status = UtfStatus::kSourceIllegal;
        break;
      }
      destination[written++] = static_cast<char16_t>(c);
    } else if (c > kMaxCodePoint) {
      status = UtfStatus::kSourceIllegal;
      break;
    } else {
      if (destinationSize - written < 2) {
        status = UtfStatus::kTargetExhausted;
        break;
      }
      c -= 0x10000;
      destination[written++] =
          static_cast<char16_t>(kHighSurrogateFirst + (c >> 10));
      destination[written++] =
          static_cast<char16_t>(kLowSurrogateFirst + (c & 0x3FF));
    }
    s += trail + 1;
  }
  return UtfCopyResult{status, written, static_cast<size_t>(s - start)};
}

size_t utf16Length(const char16_t* text) {
  const char16_t* p = text;
  while (*p != 0) ++p;
  return static_cast<size_t>(p - text);
}

UtfCopyResult convertUtf16ToUtf8(char* destination, const char16_t* text,
                                 size_t destinationSize) {
  const size_t length = utf16Length(text) + 1;
  size_t i = 0;
  size_t written = 0;
  UtfStatus status = UtfStatus::kOk;

  while (i < length) {
    char32_t c = text[i];
    size_t units = 1;
    if (c >= kHighSurrogateFirst && c <= kHighSurrogateLast) {
      if (i + 1 >= length) {
        status = UtfStatus::kSourceExhausted;
        break;
      }
      const char32_t low = text[i + 1];
      if (low < kLowSurrogateFirst || low > kLowSurrogateLast) {
        status = UtfStatus::kSourceIllegal;
        break;
      }
      c = ((c - kHighSurrogateFirst) << 10) + (low - kLowSurrogateFirst) +
          0x10000;
      units = 2;
    } else if (c >= kLowSurrogateFirst && c <= kLowSurrogateLast) {
      status = UtfStatus::kSourceIllegal;
      break;
    }

    const size_t bytes = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    if (destinationSize - written < bytes) {
      status = UtfStatus::kTargetExhausted;
      break;
    }
    static constexpr uint8_t kLeadMark[5] = {0, 0x00, 0xC0, 0xE0, 0xF0};
    char* out = destination + written;
    for (size_t k = bytes - 1; k > 0; --k) {
      out[k] = static_cast<char>(0x80 | (c & 0x3F));
      c >>= 6;
    }
    out[0] = static_cast<char>(kLeadMark[bytes] | c);
    written += bytes;
    i += units;
  }
  return UtfCopyResult{status, written, i};
}

}  // namespace

const char* utfStatusMessage(UtfStatus status) {
  switch (status) {
    case UtfStatus::kOk:
      return "ok";
    case UtfStatus::kSourceExhausted:
      return "source exhausted";
    case UtfStatus::kTargetExhausted:
      return "target exhausted";
    case UtfStatus::kSourceIllegal:
      return "source illegal";
  }
  return "unknown";
}

UtfCopyResult utf8ToUtf16Convert(char16_t* destination, const char* source,
                                 size_t destinationSize) {
  const UtfCopyResult result =
      convertUtf8ToUtf16(destination, source, destinationSize);
  if (result.status != UtfStatus::kOk) {
    traceFailure("utf8ToUtf16Convert", result.status);
  }
  return result;
}

UtfCopyResult utf16ToUtf8Convert(char* destination, const char16_t* source,
                                 size_t destinationSize) {
  const UtfCopyResult result =
      convertUtf16ToUtf8(destination, source, destinationSize);
  if (result.status != UtfStatus::kOk) {
    traceFailure("utf16ToUtf8Convert", result.status);
  }
  return result;
}
