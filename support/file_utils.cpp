#include "support/file_utils.h"

namespace {

bool isSeparator(char16_t unit) { return unit == u'/' || unit == u'\\'; }

// Appends the parts of `path` to the normalised path in `out` (length
// `*length`, always at least "/"). False when the result does not fit.
bool appendParts(char16_t* out, size_t* length, const char16_t* path,
                 size_t size) {
  const char16_t* p = path;
  while (*p != 0) {
    while (isSeparator(*p)) ++p;
    const char16_t* start = p;
    while (*p != 0 && !isSeparator(*p)) ++p;
    const size_t partLength = static_cast<size_t>(p - start);
    if (partLength == 0 || (partLength == 1 && start[0] == u'.')) continue;
    if (partLength == 2 && start[0] == u'.' && start[1] == u'.') {
      // Up one level; the root is its own parent.
      while (*length > 1 && out[*length - 1] != u'/') --*length;
      if (*length > 1) --*length;
      continue;
    }
    const size_t needed = *length + (*length > 1 ? 1 : 0) + partLength + 1;
    if (needed > size) return false;
    if (*length > 1) out[(*length)++] = u'/';
    for (size_t i = 0; i < partLength; ++i) out[(*length)++] = start[i];
  }
  return true;
}

}  // namespace

bool ucs2NormalisePath(char16_t* destination, const char16_t* base,
                       const char16_t* path, size_t size) {
  if (size < 2) return false;
  size_t length = 1;
  destination[0] = u'/';
  if (!isSeparator(path[0]) && !appendParts(destination, &length, base, size)) {
    return false;
  }
  if (!appendParts(destination, &length, path, size)) return false;
  destination[length] = 0;
  return true;
}
