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

// Adds "<folder>/defaults.ini" to `files` when it fits.
void addConfigFile(ConfigFiles* files, const char* folder) {
  char* path = files->paths[files->count];
  const int written = std::snprintf(path, kPathUnits, "%s/defaults.ini", folder);
  if (written > 0 && static_cast<size_t>(written) < kPathUnits) ++files->count;
}

}  // namespace

// Files are opened by their full paths rather than by changing into their
// folder and back: the process's current directory never changes, so a
// failed change back cannot leave the run in the wrong folder.
void globalsConfigFiles(ConfigFiles* files) {
  files->count = 0;
  if (dataFolderPerUser()) {
    addConfigFile(files, dataFolderSystemConfig());
    char base[kPathUnits];
    char folder[kPathUnits];
    if (dataFolderUserBase(UserFolder::kConfig, base, sizeof base) &&
        utf8Snprintf(folder, sizeof folder, "%s/hearkener", base) >= 0) {
      addConfigFile(files, folder);
    }
    return;
  }
  char16_t program[kPathUnits];
  char folder[kPathUnits];
  if (getDataFolder(kFolderProgram, program, kPathUnits) >= 0 &&
      utf8Snprintf(folder, sizeof folder, "%ls", program) >= 0) {
    addConfigFile(files, folder);
  }
}

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

void globalsLoad(Globals* globals, const char* const* iniPaths,
                 int32_t count) {
  globalsSetDefaults(globals);
  for (int32_t i = 0; i < count; ++i) readIniFile(globals, iniPaths[i]);
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
    std::unique_ptr<ConfigFiles> files(new ConfigFiles);
    globalsConfigFiles(files.get());
    const char* paths[ConfigFiles::kMax];
    for (int32_t i = 0; i < files->count; ++i) paths[i] = files->paths[i];
    globalsLoad(&globalsRecord, paths, files->count);
    globalsLoaded = true;
  }
  return &globalsRecord;
}
