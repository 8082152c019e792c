// The platform's registry behind regCompat: open a key under the local
// machine, query one value, close the key. On Windows this is the registry
// itself; on other systems it is one registry-export text file.
//
// Thread-safety: an open key is used by one thread at a time; opening keys
// from several threads at once is safe.
#pragma once

#include <cstdint>

// Error codes of a query, numbered as the registry numbers them.
constexpr int32_t kRegErrorNotFound = 2;
constexpr int32_t kRegErrorInvalidHandle = 6;
constexpr int32_t kRegErrorMoreData = 234;

// An open key; owned by whoever opened it, released by regStoreCloseKey.
struct RegStoreKey;

// Opens the key at `keyPath` (below the local-machine root, parts separated
// by backslashes, a trailing backslash allowed). Null when it does not
// exist or cannot be read.
RegStoreKey* regStoreOpenKey(const char* keyPath);

// Releases `key` (null is allowed).
void regStoreCloseKey(RegStoreKey* key);

// Queries the value `name` of `key`: stores its type in *type, copies its
// data into `data` when it fits in *size bytes, and sets *size to the
// data's length. Returns 0; kRegErrorMoreData when the data does not fit
// (nothing copied); kRegErrorNotFound when there is no such value;
// kRegErrorInvalidHandle for a null key.
int32_t regStoreQuery(RegStoreKey* key, const char* name, uint32_t* type,
                      uint8_t* data, uint32_t* size);
