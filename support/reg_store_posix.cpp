// The registry store on POSIX systems: the registry-export file named by
// $HEARKENER_REGISTRY_FILE, or registry.reg in the system configuration
// folder (/etc/hearkener for a /usr install). The file is read
// when a key is opened, so an open key sees the file as it was then. A
// missing or unreadable file is a missing key.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/file_utils.h"
#include "support/reg_store.h"
#include "support/registry_file.h"

struct RegStoreKey {
  std::vector<RegistryValue> values;
};

namespace {

constexpr const char* kDefaultRegistryFile =
    HEARKENER_SYSCONFDIR "/registry.reg";
// Bytes read at most; the rest of a larger file is ignored.
constexpr size_t kMaxRegistryFileBytes = 4 * 1024 * 1024;

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

bool readStore(std::string* text) {
  const char* path = std::getenv("HEARKENER_REGISTRY_FILE");
  if (path == nullptr || path[0] == '\0') path = kDefaultRegistryFile;
  std::unique_ptr<FILE, FileCloser> file(utf8FopenNoInherit(path, "rb"));
  if (!file) return false;
  char block[8192];
  size_t got = 0;
  while (text->size() < kMaxRegistryFileBytes &&
         (got = std::fread(block, 1, sizeof block, file.get())) > 0) {
    text->append(block, got);
  }
  if (text->size() > kMaxRegistryFileBytes) text->resize(kMaxRegistryFileBytes);
  return true;
}

char foldAscii(char c) { return c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c; }

bool equalIgnoringCase(const std::string& a, const char* b) {
  const size_t length = std::strlen(b);
  if (a.size() != length) return false;
  for (size_t i = 0; i < length; ++i) {
    if (foldAscii(a[i]) != foldAscii(b[i])) return false;
  }
  return true;
}

}  // namespace

RegStoreKey* regStoreOpenKey(const char* keyPath) {
  std::string section = std::string("HKEY_LOCAL_MACHINE\\") + keyPath;
  while (!section.empty() && section.back() == '\\') section.pop_back();
  std::string bytes;
  if (!readStore(&bytes)) return nullptr;
  const std::string text = registryFileToUtf8(bytes);
  std::unique_ptr<RegStoreKey> key(new RegStoreKey);
  if (!registryFileReadSection(text.data(), text.size(), section,
                               &key->values)) {
    return nullptr;
  }
  return key.release();
}

void regStoreCloseKey(RegStoreKey* key) { delete key; }

int32_t regStoreQuery(RegStoreKey* key, const char* name, uint32_t* type,
                      uint8_t* data, uint32_t* size) {
  if (key == nullptr) return kRegErrorInvalidHandle;
  for (const RegistryValue& value : key->values) {
    if (!equalIgnoringCase(value.name, name)) continue;
    *type = value.type;
    const uint32_t length = static_cast<uint32_t>(value.data.size());
    const bool fits = length <= *size;
    if (fits && length > 0) std::memcpy(data, value.data.data(), length);
    *size = length;
    return fits ? 0 : kRegErrorMoreData;
  }
  return kRegErrorNotFound;
}
