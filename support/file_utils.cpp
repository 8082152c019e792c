#include "support/file_utils.h"

#include <cerrno>
#include <cstring>

#include "support/file_utils_platform.h"

namespace {

bool isSeparator(char16_t unit) { return unit == u'/' || unit == u'\\'; }

// Copies the root of the absolute path `base` into `out` as "/", "X:/" or
// "//server/share" and sets *rest to the parts after it. A base of no known
// form gets the root "/" and keeps all its parts. Returns the root's length,
// or 0 when it does not fit in `size` units with a terminator.
size_t copyRoot(char16_t* out, const char16_t* base, size_t size,
                const char16_t** rest) {
  size_t length = 0;
  const char16_t* p = base;
  if (!isSeparator(base[0]) && base[0] != 0 && base[1] == u':' &&
      (base[2] == 0 || isSeparator(base[2]))) {
    if (size < 4) return 0;
    out[length++] = base[0];
    out[length++] = u':';
    out[length++] = u'/';
    p = base[2] == 0 ? base + 2 : base + 3;
  } else if (isSeparator(base[0]) && isSeparator(base[1]) && base[2] != 0 &&
             !isSeparator(base[2])) {
    // Server, then share: ".." never climbs above them.
    p = base + 2;
    out[length++] = u'/';
    for (int part = 0; part < 2 && *p != 0; ++part) {
      while (isSeparator(*p)) ++p;
      if (*p == 0) break;
      if (length + 1 >= size) return 0;
      out[length++] = u'/';
      while (*p != 0 && !isSeparator(*p)) {
        if (length + 1 >= size) return 0;
        out[length++] = *p++;
      }
    }
  } else {
    if (size < 2) return 0;
    out[length++] = u'/';
  }
  *rest = p;
  return length;
}

// Appends the parts of `path` to the normalised path in `out` (length
// `*length`, never shorter than its root of `rootLength` units). False when
// the result does not fit.
bool appendParts(char16_t* out, size_t* length, size_t rootLength,
                 const char16_t* path, size_t size) {
  const char16_t* p = path;
  while (*p != 0) {
    while (isSeparator(*p)) ++p;
    const char16_t* start = p;
    while (*p != 0 && !isSeparator(*p)) ++p;
    const size_t partLength = static_cast<size_t>(p - start);
    if (partLength == 0 || (partLength == 1 && start[0] == u'.')) continue;
    if (partLength == 2 && start[0] == u'.' && start[1] == u'.') {
      // Up one level; the root is its own parent.
      while (*length > rootLength && out[*length - 1] != u'/') --*length;
      if (*length > rootLength) --*length;
      continue;
    }
    const bool separator = out[*length - 1] != u'/';
    const size_t needed = *length + (separator ? 1 : 0) + partLength + 1;
    if (needed > size) return false;
    if (separator) out[(*length)++] = u'/';
    for (size_t i = 0; i < partLength; ++i) out[(*length)++] = start[i];
  }
  return true;
}

}  // namespace

bool utf16NormalisePath(char16_t* destination, const char16_t* base,
                        const char16_t* path, size_t size) {
  const char16_t* baseParts = base;
  const size_t rootLength = copyRoot(destination, base, size, &baseParts);
  if (rootLength == 0) return false;
  size_t length = rootLength;
  if (!isSeparator(path[0]) &&
      !appendParts(destination, &length, rootLength, baseParts, size)) {
    return false;
  }
  if (!appendParts(destination, &length, rootLength, path, size)) return false;
  destination[length] = 0;
  return true;
}

bool fileModeUsable(const char* mode) {
  if (mode != nullptr && std::strlen(mode) <= kMaxModeLength) return true;
  errno = EINVAL;
  return false;
}

char16_t* utf16FullPath(char16_t* destination, const char16_t* path,
                        size_t size) {
  if (destination == nullptr || path == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  return systemFullPath(destination, path, size);
}

bool fileNameFits(const char* name, size_t limit) {
  if (name == nullptr) {
    errno = EINVAL;
    return false;
  }
  if (strnlen(name, limit) >= limit) {
    errno = ENAMETOOLONG;
    return false;
  }
  return true;
}

bool pathConverted(const UtfCopyResult& copied) {
  if (copied.status == UtfStatus::kOk) return true;
  errno = copied.status == UtfStatus::kTargetExhausted ? ENAMETOOLONG : EILSEQ;
  return false;
}
