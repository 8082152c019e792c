// What the portable file helpers (file_utils.cpp) ask of each platform's
// file_utils_*.cpp, and what they give it back.
#pragma once

#include <cstddef>

#include "support/utf_convert.h"

// The longest fopen mode the opens accept, in characters.
constexpr size_t kMaxModeLength = 9;

// True for a mode of at most kMaxModeLength characters; false (errno
// EINVAL) otherwise.
bool fileModeUsable(const char* mode);

// utf16FullPath once its arguments are known to be present.
char16_t* systemFullPath(char16_t* destination, const char16_t* path,
                         size_t size);

// True for a name that is present and shorter than `limit` bytes; false
// (errno EINVAL or ENAMETOOLONG) otherwise.
bool fileNameFits(const char* name, size_t limit);

// True when a path's conversion succeeded; false (errno ENAMETOOLONG when
// it did not fit, EILSEQ for text that is not Unicode) otherwise.
bool pathConverted(const UtfCopyResult& copied);
