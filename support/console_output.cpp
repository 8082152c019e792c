#include "support/console_output.h"

#include <cstddef>
#include <cstdint>

namespace {

bool isHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The code point at units[*i], advancing *i past it; an unpaired surrogate
// yields -1.
int32_t nextCodePoint(const char16_t* units, size_t count, size_t* i) {
  const char16_t unit = units[(*i)++];
  if (isHighSurrogate(unit)) {
    if (*i < count && isLowSurrogate(units[*i])) {
      const char16_t low = units[(*i)++];
      return 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
    }
    return -1;
  }
  return isLowSurrogate(unit) ? -1 : unit;
}

}  // namespace

size_t consoleEncodeUtf8(const char16_t* units, size_t count, char* out,
                         size_t outSize) {
  size_t written = 0;
  size_t i = 0;
  while (i < count) {
    const int32_t c = nextCodePoint(units, count, &i);
    if (c < 0) {
      if (written >= outSize) break;
      out[written++] = kConsoleReplacement;
      continue;
    }
    const size_t bytes = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
    if (outSize - written < bytes) break;
    char* p = out + written;
    switch (bytes) {
      case 1:
        p[0] = static_cast<char>(c);
        break;
      case 2:
        p[0] = static_cast<char>(0xC0 | (c >> 6));
        p[1] = static_cast<char>(0x80 | (c & 0x3F));
        break;
      case 3:
        p[0] = static_cast<char>(0xE0 | (c >> 12));
        p[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        p[2] = static_cast<char>(0x80 | (c & 0x3F));
        break;
      default:
        p[0] = static_cast<char>(0xF0 | (c >> 18));
        p[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        p[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        p[3] = static_cast<char>(0x80 | (c & 0x3F));
        break;
    }
    written += bytes;
  }
  return written;
}

size_t consoleEncodeAscii(const char16_t* units, size_t count, char* out,
                          size_t outSize) {
  size_t written = 0;
  size_t i = 0;
  while (i < count && written < outSize) {
    const int32_t c = nextCodePoint(units, count, &i);
    out[written++] =
        c >= 0 && c < 0x80 ? static_cast<char>(c) : kConsoleReplacement;
  }
  return written;
}
