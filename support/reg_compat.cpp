#include "support/reg_compat.h"

#include <atomic>
#include <cstdarg>
#include <cstring>

#include "support/debug_trace.h"
#include "support/globals.h"
#include "support/log_print.h"
#include "support/reg_store.h"
#include "support/text_format.h"

namespace {

char basePath[kRegBasePathBytes];
std::atomic<bool> traceOn{false};

void rcTrace(const char* tag, const char* format, ...) HK_PRINTF_LIKE(2, 3);

void rcTrace(const char* tag, const char* format, ...) {
  if (!traceOn.load(std::memory_order_relaxed)) return;
  va_list args;
  va_start(args, format);
  logPrintV(nullptr, kLogDebug, tag, format, args);
  va_end(args);
}

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
  if (error != 0) {
    rcTrace("regCompat:416", "REG: rcGetString failed for %s\\%s (%d)",
            key->path, name, error);
    return -1;
  }
  if (type != 1) {
    rcTrace("regCompat:421", "REG: %s\\%s is not a string (%d)", key->path,
            name, static_cast<int32_t>(type));
    return 1;
  }
  if (count >= size) {
    rcTrace("regCompat:426", "REG: %s\\%s string doesn't fit buffer (%d>%d)",
            key->path, name, static_cast<int32_t>(count),
            static_cast<int32_t>(size));
    return 1;
  }
  buffer[count] = '\0';
  rcTrace("regCompat:431", "REG: %s\\%s string value is \"%s\"", key->path,
          name, buffer);
  return 0;
}

int32_t rcGetUint32(RegKey* key, const char* name, uint32_t* result) {
  if (result == nullptr) return -1;
  uint32_t type = 0;
  uint8_t data[4];
  uint32_t count = sizeof data;
  const int32_t error = regStoreQuery(key->handle, name, &type, data, &count);
  if (error != 0) {
    rcTrace("regCompat:372", "REG: %s failed for %s\\%s (%d)", "rcGetUint32",
            key->path, name, error);
    return -1;
  }
  if (type != 4 || count != sizeof data) {
    rcTrace("regCompat:377", "REG: %s\\%s is not a DWORD (%d)", key->path, name,
            static_cast<int32_t>(type));
    return -1;
  }
  *result = static_cast<uint32_t>(data[0]) |
            static_cast<uint32_t>(data[1]) << 8 |
            static_cast<uint32_t>(data[2]) << 16 |
            static_cast<uint32_t>(data[3]) << 24;
  rcTrace("regCompat:381", "REG: %s\\%s got DWORD 0x%08x", key->path, name,
          *result);
  return 0;
}

int32_t rcCloseKey(RegKey* key) {
  if (key->handle != nullptr) {
    regStoreCloseKey(key->handle);
    key->handle = nullptr;
  }
  return 0;
}

void rcSetTrace(bool on) { traceOn.store(on); }

bool rcTraceOn() { return traceOn.load(); }
