#include <cstdlib>

#include "support/data_folder.h"

const char* dataFolderDefaultRoot(int32_t release) {
  return release >= 4 ? kPosixDataRoot : kPosixDataRootV3;
}

const char* dataFolderCommonAppData() {
  const char* folder = std::getenv("HEARKENER_COMMON_APPDATA");
  return folder != nullptr && folder[0] != '\0' ? folder : "/var/lib";
}

char16_t dataFolderSeparator() { return u'/'; }
