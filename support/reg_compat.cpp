#include "support/reg_compat.h"

#include <cstring>

#include "support/globals.h"
#include "support/reg_store.h"
#include "support/text_format.h"

namespace {

char basePath[kRegBasePathBytes];

}  // namespace

RegKey::~RegKey() { rcCloseKey(this); }

void rcSetBasePath(const char* name) {
  if (name == nullptr) name = getGlobals()->regPath;
  const size_t length = std::strlen(name);
  const bool endsInSeparator = length > 0 && name[length - 1] == '\\';
  utf8Snprintf(basePath, sizeof basePath,
               endsInSeparator ? "Software\\%s" : "Software\\%s\\", name);
}

const char* rcBasePath() { return basePath; }

int32_t rcOpenKey(const char* subPath, RegKey* key, const char* section) {
  rcCloseKey(key);
  char path[kRegKeyPathBytes];
  int32_t length =
      utf8Snprintf(path, sizeof path, "%s%s\\%s", basePath, section, subPath);
  if (length < 0) return -1;
  for (int32_t i = 0; i < length; ++i) {
    if (path[i] == '/') path[i] = '\\';
  }
  if (path[length - 1] != '\\') {
    if (length + 1 >= kRegKeyPathBytes) return -1;
    path[length++] = '\\';
    path[length] = '\0';
  }
  RegStoreKey* handle = regStoreOpenKey(path);
  if (handle == nullptr) return -1;
  key->handle = handle;
  std::memcpy(key->path, path, static_cast<size_t>(length) + 1);
  key->pathLength = length;
  return 0;
}

int32_t rcGetString(RegKey* key, const char* name, char* buffer,
                    uint32_t size) {
  uint32_t type = 0;
  uint32_t count = size;
  const int32_t error = regStoreQuery(
      key->handle, name, &type, reinterpret_cast<uint8_t*>(buffer), &count);
  if (error != 0) return -1;
  if (type != 1 || count >= size) return 1;
  buffer[count] = '\0';
  return 0;
}

int32_t rcCloseKey(RegKey* key) {
  if (key->handle != nullptr) {
    regStoreCloseKey(key->handle);
    key->handle = nullptr;
  }
  return 0;
}
