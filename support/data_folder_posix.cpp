#include <pwd.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "support/data_folder.h"

#ifndef HEARKENER_SYSCONFDIR
#error "HEARKENER_SYSCONFDIR: the configuration folder comes from the build"
#endif

namespace {

// An absolute, non-empty value of the variable `name`, else null.
const char* absoluteVariable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] == '/' ? value : nullptr;
}

bool homeFolder(char* out, size_t size) {
  const char* home = absoluteVariable("HOME");
  if (home != nullptr) {
    return static_cast<size_t>(std::snprintf(out, size, "%s", home)) < size;
  }
  long bytes = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(bytes > 0 ? static_cast<size_t>(bytes) : 16384);
  struct passwd entry;
  struct passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
      found == nullptr || found->pw_dir == nullptr || found->pw_dir[0] != '/') {
    return false;
  }
  return static_cast<size_t>(std::snprintf(out, size, "%s", found->pw_dir)) <
         size;
}

}  // namespace

const char* dataFolderDefaultRoot(int32_t release) {
  return release >= 4 ? kPosixDataRoot : kPosixDataRootV3;
}

const char* dataFolderCommonAppData() { return nullptr; }

char16_t dataFolderSeparator() { return u'/'; }

bool dataFolderPerUser() { return true; }

const char* dataFolderSystemConfig() { return HEARKENER_SYSCONFDIR; }

bool dataFolderUserBase(UserFolder kind, char* out, size_t size) {
  const bool config = kind == UserFolder::kConfig;
  const char* base = absoluteVariable(config ? "XDG_CONFIG_HOME" : "XDG_STATE_HOME");
  if (base != nullptr) {
    return static_cast<size_t>(std::snprintf(out, size, "%s", base)) < size;
  }
  char home[4096];
  if (!homeFolder(home, sizeof home)) return false;
  const int written = std::snprintf(out, size, "%s/%s", home,
                                    config ? ".config" : ".local/state");
  return written > 0 && static_cast<size_t>(written) < size;
}
