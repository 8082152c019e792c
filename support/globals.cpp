#include "support/globals.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "support/data_folder.h"
#include "support/deployment.h"
#include "support/file_utils.h"
#include "support/ini_parser.h"
#include "support/reg_compat.h"
#include "support/text_format.h"

namespace {

Globals globalsRecord;
bool globalsLoaded = false;

// Bytes of the buffer registry strings are read into.
constexpr uint32_t kRegValueBytes = 256;

// The name of this program's service type in the derived service name; the
// program has none.
constexpr const char* kServiceTypeName = "Unknown";

void copyText(char* field, size_t size, const char* text) {
  utf8Snprintf(field, size, "%s", text);
}

struct FileCloser {
  void operator()(FILE* file) const { std::fclose(file); }
};

void readIniFile(Globals* globals, const char* iniPath) {
  if (iniPath == nullptr) return;
  std::unique_ptr<FILE, FileCloser> file(utf8FopenNoInherit(iniPath, "r"));
  if (file) iniReadFile(globals, file.get());
}

// Reads a string value into `field` when it is there and fits; `hex` marks a
// value stored hex-encoded.
void readRegistryText(RegKey* key, const char* name, bool hex, char* field,
                      size_t size) {
  char value[kRegValueBytes];
  if (rcGetString(key, name, value, sizeof value) != 0) return;
  char decoded[kRegValueBytes];
  const char* text = value;
  if (hex) {
    globalsHexDecode(value, decoded, sizeof decoded);
    text = decoded;
  }
  if (std::strlen(text) + 1 > size) return;
  std::memcpy(field, text, std::strlen(text) + 1);
}

// "defaults.ini" in the folder of the running executable, as UTF-8; false
// when the folder cannot be named. The file is opened by this full path
// rather than by changing into the program folder and back: the process's
// current directory never changes, so a failed change back cannot leave the
// run in the wrong folder.
bool defaultsIniPath(char* out, size_t size) {
  char16_t folder[kPathUnits];
  if (getDataFolder(kFolderProgram, folder, kPathUnits) < 0) return false;
  return utf8Snprintf(out, size, "%ls/defaults.ini", folder) >= 0;
}

}  // namespace

void globalsSetDefaults(Globals* globals) {
  std::memset(globals, 0, sizeof *globals);
  globals->release = 3;
  copyText(globals->regPath, sizeof globals->regPath, "quandrilex");
  copyText(globals->productName, sizeof globals->productName, "Tellan USB");
  copyText(globals->serviceName, sizeof globals->serviceName, "Tellan-USB");
  copyText(globals->srvDisplayName, sizeof globals->srvDisplayName,
           "Tellan-USB");
  copyText(globals->version, sizeof globals->version, "3.8.8+x");
  copyText(globals->vendor, sizeof globals->vendor, kVendorName);
}

void globalsHexDecode(const char* hex, char* out, int32_t size) {
  auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  int32_t length = 0;
  for (; hex[0] != '\0' && hex[1] != '\0' && length < size - 1; hex += 2) {
    const int high = digit(hex[0]);
    const int low = digit(hex[1]);
    out[length++] =
        high < 0 || low < 0 ? '\0' : static_cast<char>(high * 16 + low);
  }
  out[length] = '\0';
}

void globalsLoad(Globals* globals, const char* iniPath) {
  globalsSetDefaults(globals);
  char serviceName[sizeof globals->serviceName];
  char displayName[sizeof globals->srvDisplayName];
  char productName[sizeof globals->productName];
  std::memcpy(serviceName, globals->serviceName, sizeof serviceName);
  std::memcpy(displayName, globals->srvDisplayName, sizeof displayName);
  std::memcpy(productName, globals->productName, sizeof productName);

  readIniFile(globals, iniPath);

  if (globals->release > 3) {
    if (std::strcmp(globals->serviceName, serviceName) == 0) {
      utf8Snprintf(globals->serviceName, sizeof globals->serviceName,
                   "Tellan-%s", kServiceTypeName);
      if (std::strcmp(globals->srvDisplayName, displayName) == 0) {
        copyText(globals->srvDisplayName, sizeof globals->srvDisplayName,
                 globals->serviceName);
      }
    }
    if (std::strcmp(globals->productName, productName) == 0) {
      copyText(globals->productName, sizeof globals->productName,
               "Tellan USB4");
    }
  }
  copyText(globals->version, sizeof globals->version,
           globals->release >= 4 ? "4.0.0" : "3.8.8+x");

  rcSetBasePath(globals->regPath);
  RegKey key;
  if (rcOpenKey("", &key, globals->release >= 4 ? "Defaults4" : "Defaults") ==
      0) {
    readRegistryText(&key, "rn", true, globals->productName,
                     sizeof globals->productName);
    readRegistryText(&key, "sn", true, globals->serviceName,
                     sizeof globals->serviceName);
    readRegistryText(&key, "sn", true, globals->srvDisplayName,
                     sizeof globals->srvDisplayName);
    readRegistryText(&key, "vn", false, globals->version,
                     sizeof globals->version);
    readRegistryText(&key, "vd", false, globals->vendor,
                     sizeof globals->vendor);
    readRegistryText(&key, "rp", false, globals->regPath,
                     sizeof globals->regPath);
    rcCloseKey(&key);
  }
  rcSetBasePath(globals->regPath);
}

Globals* getGlobals() {
  if (!globalsLoaded) {
    char iniPath[kPathUnits];
    globalsLoad(&globalsRecord,
                defaultsIniPath(iniPath, sizeof iniPath) ? iniPath : nullptr);
    globalsLoaded = true;
  }
  return &globalsRecord;
}
