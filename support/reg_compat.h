// regCompat: the thin registry layer of the support library. Keys lie below
// one process-wide base path, "Software\<vendor key name>\", under the
// local-machine root; the reader returns tri-state results.
//
// Thread-safety: rcSetBasePath must not run while another thread opens a
// key; a RegKey is used by one thread at a time.
#pragma once

#include <cstdint>

struct RegStoreKey;

// Bytes of a key path, terminator included.
constexpr int32_t kRegKeyPathBytes = 512;
// Bytes of the base path, terminator included.
constexpr int32_t kRegBasePathBytes = 1024;

// An open registry key. Owned by the caller; rcCloseKey (or the destructor)
// releases it.
struct RegKey {
  RegStoreKey* handle = nullptr;
  char path[kRegKeyPathBytes] = {};  // always ends in a backslash when open
  int32_t pathLength = 0;

  RegKey() = default;
  ~RegKey();
  RegKey(const RegKey&) = delete;
  RegKey& operator=(const RegKey&) = delete;
};

// Sets the base path to "Software\" + name + "\" (no second backslash when
// the name ends in one); a null name takes getGlobals()->regPath. A base
// path longer than kRegBasePathBytes - 1 bytes is cut.
void rcSetBasePath(const char* name);

// The current base path (empty before the first rcSetBasePath).
const char* rcBasePath();

// Opens base path + section + "\" + subPath (each '/' of subPath turned
// into '\', a trailing '\' added when missing) into `key`. Returns 0, or -1
// when the key does not exist, cannot be read, or its path does not fit in
// kRegKeyPathBytes. A key still open in `key` is closed first.
// REQUIRES: key non-null; subPath and section non-null.
int32_t rcOpenKey(const char* subPath, RegKey* key, const char* section);

// Reads the string value `name` into `buffer` of `size` bytes. Returns 0
// (text stored, NUL-terminated), 1 (the value is not a string, or it
// leaves no room for a terminator; buffer contents unspecified), or -1
// (missing value, unopened key, or failed query).
// REQUIRES: name non-null; buffer holds size bytes.
int32_t rcGetString(RegKey* key, const char* name, char* buffer, uint32_t size);

// Releases the key (idempotent). Returns 0.
int32_t rcCloseKey(RegKey* key);
