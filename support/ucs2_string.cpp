#include "support/ucs2_string.h"

namespace {

int32_t foldAscii(char16_t unit) {
  return unit >= u'A' && unit <= u'Z' ? unit - u'A' + u'a' : unit;
}

}  // namespace

char16_t* ucs2FromNarrowCpy(char16_t* destination, const char* source,
                            size_t limit) {
  for (size_t i = 0; i < limit && source[i] != '\0'; ++i) {
    *destination++ = static_cast<unsigned char>(source[i]);
  }
  *destination = 0;
  return destination;
}

char16_t* ucs2Cpy(char16_t* destination, const char16_t* source) {
  char16_t* out = destination;
  while ((*out++ = *source++) != 0) {
  }
  return destination;
}

char16_t* ucs2Cat(char16_t* destination, const char16_t* source) {
  ucs2Cpy(destination + ucs2Len(destination), source);
  return destination;
}

size_t ucs2Len(const char16_t* text) {
  const char16_t* p = text;
  while (*p != 0) ++p;
  return static_cast<size_t>(p - text);
}

const char16_t* ucs2Chr(const char16_t* text, char16_t unit) {
  for (;; ++text) {
    if (*text == unit) return text;
    if (*text == 0) return nullptr;
  }
}

const char16_t* ucs2RChr(const char16_t* text, char16_t unit) {
  const char16_t* last = nullptr;
  for (;; ++text) {
    if (*text == unit) last = text;
    if (*text == 0) return last;
  }
}

int32_t ucs2NICmp(const char16_t* a, const char16_t* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const int32_t difference = foldAscii(a[i]) - foldAscii(b[i]);
    if (difference != 0) return difference;
    if (a[i] == 0) return 0;
  }
  return 0;
}
