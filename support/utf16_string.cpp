#include "support/utf16_string.h"

char16_t* utf16FromNarrowCpy(char16_t* destination, const char* source,
                             size_t limit) {
  for (size_t i = 0; i < limit && source[i] != '\0'; ++i) {
    *destination++ = static_cast<unsigned char>(source[i]);
  }
  *destination = 0;
  return destination;
}

size_t utf16Len(const char16_t* text) {
  const char16_t* p = text;
  while (*p != 0) ++p;
  return static_cast<size_t>(p - text);
}
