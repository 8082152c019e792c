#include "support/data_folder.h"

#include <cerrno>

#include "support/file_utils.h"
#include "support/globals.h"
#include "support/program_folder.h"
#include "support/utf16_string.h"
#include "support/utf_convert.h"

namespace {

bool isSeparator(char16_t unit) { return unit == u'/' || unit == u'\\'; }

// Widens a narrow configuration text into `out` (`size` units): as UTF-8,
// or byte by byte when the text is not UTF-8. False when it does not fit.
bool widen(char16_t* out, size_t size, const char* text) {
  const UtfCopyResult copied = utf8ToUtf16Convert(out, text, size);
  if (copied.status == UtfStatus::kOk) return true;
  if (copied.status == UtfStatus::kTargetExhausted) return false;
  size_t length = 0;
  while (text[length] != '\0') ++length;
  if (length + 1 > size) return false;
  utf16FromNarrowCpy(out, text, length);
  return true;
}

// Appends `part` to the path of `*length` units in `path`, with a separator
// unless the path already ends in one. False when it does not fit.
bool appendPart(char16_t* path, size_t* length, size_t size,
                const char16_t* part) {
  const bool separator = *length == 0 || !isSeparator(path[*length - 1]);
  const size_t partLength = utf16Len(part);
  if (*length + (separator ? 1 : 0) + partLength + 1 > size) return false;
  if (separator) path[(*length)++] = dataFolderSeparator();
  for (size_t i = 0; i <= partLength; ++i) path[*length + i] = part[i];
  *length += partLength;
  return true;
}

bool appendNarrow(char16_t* path, size_t* length, size_t size,
                  const char* text) {
  char16_t wide[kPathUnits];
  return widen(wide, kPathUnits, text) && appendPart(path, length, size, wide);
}

int32_t programFolder(char16_t* destination, size_t size) {
  char16_t path[kPathUnits];
  if (programPath(path, kPathUnits) < 0) return -1;
  return dataFolderOfProgram(path, destination, size);
}

int32_t dataRoot(char16_t* destination, size_t size) {
  const Globals* globals = getGlobals();
  const char* root = globals->dir[0] != '\0'
                         ? globals->dir
                         : dataFolderDefaultRoot(globals->release);
  if (!widen(destination, size, root)) return -1;
  return static_cast<int32_t>(utf16Len(destination));
}

// Linux: the configured folder, else <state>/hearkener/crashes.
int32_t userCrashFolder(const Globals* globals, char16_t* destination,
                        size_t size) {
  if (globals->crashDir[0] != '\0') {
    if (!widen(destination, size, globals->crashDir)) return -1;
    return static_cast<int32_t>(utf16Len(destination));
  }
  char base[kPathUnits];
  if (!dataFolderUserBase(UserFolder::kState, base, sizeof base) ||
      !widen(destination, size, base)) {
    return -1;
  }
  size_t length = utf16Len(destination);
  if (!appendPart(destination, &length, size, u"hearkener") ||
      !appendPart(destination, &length, size, u"crashes")) {
    return -1;
  }
  return static_cast<int32_t>(length);
}

int32_t crashDumpFolder(char16_t* destination, size_t size) {
  const Globals* globals = getGlobals();
  if (dataFolderPerUser()) return userCrashFolder(globals, destination, size);
  const char* common = dataFolderCommonAppData();
  if (common == nullptr) return -1;
  if (utf8ToUtf16Convert(destination, common, size).status != UtfStatus::kOk) {
    return -1;
  }
  size_t length = utf16Len(destination);
  if (!appendNarrow(destination, &length, size, globals->regPath) ||
      !appendNarrow(destination, &length, size, globals->productName) ||
      !appendPart(destination, &length, size, u"crashdumps")) {
    return -1;
  }
  return static_cast<int32_t>(length);
}

int32_t makeDirSystem(const char16_t* path, void* /*context*/) {
  return utf16Mkdir(path) == 0 ? 0 : errno;
}

}  // namespace

int32_t dataFolderOfProgram(const char16_t* programPath, char16_t* destination,
                            size_t size) {
  const char16_t* separator = nullptr;
  for (const char16_t* p = programPath; *p != 0; ++p) {
    if (isSeparator(*p)) separator = p;
  }
  if (separator == nullptr) return -2;
  const size_t length = static_cast<size_t>(separator - programPath);
  if (length + 1 > size) return -3;
  for (size_t i = 0; i < length; ++i) destination[i] = programPath[i];
  destination[length] = 0;
  return static_cast<int32_t>(length);
}

int32_t getDataFolder(int32_t kind, char16_t* destination, size_t size) {
  if (destination == nullptr || size == 0) return -1;
  switch (kind) {
    case kFolderProgram:
      return programFolder(destination, size);
    case kFolderDataRoot:
      return dataRoot(destination, size);
    case kFolderCrashDumps:
      return crashDumpFolder(destination, size);
    default:
      return -1;
  }
}

int32_t makeDirTreeWalk(const char16_t* fullPath,
                        int32_t (*makeDir)(const char16_t* path, void* context),
                        void* context) {
  char16_t copy[kPathUnits];
  const auto create = [&](size_t length) {
    copy[length] = 0;
    const int32_t error = makeDir(copy, context);
    return error == 0 || error == EEXIST;
  };
  int state = 0;
  size_t length = 0;
  for (const char16_t* p = fullPath; *p != 0; ++p) {
    if (length + 1 >= kPathUnits) return -1;
    const bool separator = isSeparator(*p);
    if (separator && (state == 1 || state == 10) && !create(length)) return -1;
    copy[length++] = *p;
    switch (state) {
      case 0:
        state = separator ? 4 : 1;
        break;
      case 1:
        state = separator ? 11 : (*p == u':' ? 2 : 10);
        break;
      case 2:
        state = separator ? 3 : 10;
        break;
      case 3:
        state = separator ? 3 : 10;
        break;
      case 4:
        state = separator ? 5 : 10;
        break;
      case 5:
        state = separator ? 5 : 6;
        break;
      case 6:
        state = separator ? 7 : 6;
        break;
      case 7:
        state = separator ? 7 : 8;
        break;
      case 8:
        state = separator ? 9 : 8;
        break;
      case 9:
        state = separator ? 9 : 10;
        break;
      case 10:
        state = separator ? 11 : 10;
        break;
      default:
        state = separator ? 11 : 10;
        break;
    }
  }
  if (state == 10 && !create(length)) return -1;
  return 0;
}

int32_t makeDirTree(const char16_t* path) {
  if (path == nullptr) return -1;
  char16_t full[kPathUnits];
  if (utf16FullPath(full, path, kPathUnits) == nullptr) return -1;
  return makeDirTreeWalk(full, makeDirSystem, nullptr);
}
