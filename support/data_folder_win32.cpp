// The platform parts of getDataFolder on Windows: the data roots on drive C
// and the system's common application-data folder (CSIDL_COMMON_APPDATA),
// looked up once and kept as UTF-8 for the portable part.
#include <windows.h>
#include <shlobj.h>

#include <mutex>

#include "support/data_folder.h"
#include "support/file_utils.h"
#include "support/utf_convert.h"

const char* dataFolderDefaultRoot(int32_t release) {
  return release >= 4 ? kWindowsDataRoot : kWindowsDataRootV3;
}

const char* dataFolderCommonAppData() {
  static char folder[3 * MAX_PATH + 1];
  static bool found = false;
  static std::once_flag once;
  std::call_once(once, [] {
    wchar_t wide[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr,
                                SHGFP_TYPE_CURRENT, wide))) {
      return;
    }
    found = utf16ToUtf8Convert(folder, reinterpret_cast<const char16_t*>(wide),
                               sizeof folder)
                .status == UtfStatus::kOk;
  });
  return found ? folder : nullptr;
}

char16_t dataFolderSeparator() { return u'\\'; }

bool dataFolderPerUser() { return false; }

const char* dataFolderSystemConfig() { return nullptr; }

bool dataFolderUserBase(UserFolder /*kind*/, char* /*out*/, size_t /*size*/) {
  return false;
}
