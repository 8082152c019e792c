#include "support/globals.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "support/data_folder.h"
#include "support/file_utils.h"
#include "support/ini_parser.h"
#include "support/reg_compat.h"
#include "support/text_format.h"

namespace {

Globals globalsRecord;
bool globalsLoaded = false;

// Bytes of the buffer registry strings are read into.
constexpr uint32_t kRegValueBytes = 256;

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
  readIniFile(globals, iniPath);
  if (globals->release > 3) {
    copyText(globals->productName, sizeof globals->productName, "Tellan USB4");
  }

  rcSetBasePath(globals->regPath);
  RegKey key;
  if (rcOpenKey("", &key, globals->release >= 4 ? "Defaults4" : "Defaults") ==
      0) {
    readRegistryText(&key, "rn", true, globals->productName,
                     sizeof globals->productName);
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
