// The registry store on Windows: the local machine's registry itself, in the
// program's own view (a 64-bit program reads the 64-bit view). Results are
// the registry's own error codes, which reg_store.h's constants name.
#include <windows.h>

#include <string>

#include "support/reg_store.h"

struct RegStoreKey {
  HKEY handle;
};

RegStoreKey* regStoreOpenKey(const char* keyPath) {
  if (keyPath == nullptr) return nullptr;
  std::string path(keyPath);
  while (!path.empty() && path.back() == '\\') path.pop_back();
  HKEY handle = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &handle) !=
      ERROR_SUCCESS) {
    return nullptr;
  }
  return new RegStoreKey{handle};
}

void regStoreCloseKey(RegStoreKey* key) {
  if (key == nullptr) return;
  RegCloseKey(key->handle);
  delete key;
}

int32_t regStoreQuery(RegStoreKey* key, const char* name, uint32_t* type,
                      uint8_t* data, uint32_t* size) {
  if (key == nullptr) return kRegErrorInvalidHandle;
  DWORD valueType = 0;
  DWORD length = *size;
  // Without a buffer the registry reports success and the length; the
  // contract calls that "does not fit" unless the data is empty.
  const LONG status =
      RegQueryValueExA(key->handle, name, nullptr, &valueType,
                       *size > 0 ? data : nullptr, &length);
  if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) {
    return static_cast<int32_t>(status);
  }
  *type = valueType;
  const bool fits = status == ERROR_SUCCESS && length <= *size;
  *size = length;
  return fits ? 0 : kRegErrorMoreData;
}
