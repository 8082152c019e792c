// The POSIX data folders: the recordings root and its separator, the
// per-user crash folder and configuration files from the XDG variables, the
// system configuration folder of the build, and the program folder from
// /proc/self/exe.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/data_folder.h"
#include "support/file_utils.h"
#include "support/globals.h"
#include "support/utf_convert.h"
#include "tests/globals_override.h"
#include "tests/scoped_env.h"

namespace {

using test_env::ScopedEnv;
using test_globals::GlobalsOverride;

std::string narrow(const std::u16string& text) {
  std::string out(text.size() * 3 + 1, '\0');
  utf16ToUtf8Convert(&out[0], text.c_str(), out.size());
  out.resize(std::strlen(out.c_str()));
  return out;
}

// The folder of `kind` as UTF-8, or the negative result as text.
std::string folder(int32_t kind, size_t size = kPathUnits) {
  std::u16string out(size, u'\0');
  const int32_t length = getDataFolder(kind, &out[0], size);
  if (length < 0) return std::to_string(length);
  EXPECT_EQ(static_cast<size_t>(length),
            std::char_traits<char16_t>::length(out.c_str()));
  out.resize(static_cast<size_t>(length));
  return narrow(out);
}

TEST(DataFolderTest, EveryKind) {
  ScopedEnv state("XDG_STATE_HOME", "/data/state");
  GlobalsOverride globals(3, "");
  struct Case {
    int32_t kind;
    const char* path;
  };
  const Case cases[] = {
      {2, "/srv/Recordings.v3"},
      {7, "-1"},
      {8, "/data/state/hearkener/crashes"},
      {9, "-1"},
      {-1, "-1"},
      {INT32_MIN, "-1"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.path, folder(c.kind)) << c.kind;

  char exe[4096];
  const ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(length, 0);
  exe[length] = '\0';
  EXPECT_EQ(std::filesystem::path(exe).parent_path().string(), folder(0));
}

TEST(DataFolderTest, DataRootByReleaseAndConfiguration) {
  {
    GlobalsOverride globals(4, "");
    EXPECT_EQ("/srv/Recordings", folder(2));
  }
  {
    GlobalsOverride globals(3, "C:\\Data\\Rec");
    EXPECT_EQ("C:\\Data\\Rec", folder(2));
  }
  {
    GlobalsOverride globals(3, "/rec/caf\xc3\xa9");
    EXPECT_EQ("/rec/caf\xc3\xa9", folder(2));
  }
}

TEST(DataFolderTest, TooSmallDestinations) {
  ScopedEnv state("XDG_STATE_HOME", "/var/lib/");
  GlobalsOverride globals(3, "");
  const std::string crash = "/var/lib/hearkener/crashes";
  EXPECT_EQ(crash, folder(8, crash.size() + 1));
  for (size_t size :
       {crash.size(), size_t{20}, size_t{9}, size_t{8}, size_t{1}}) {
    EXPECT_EQ("-1", folder(8, size)) << size;
  }
  EXPECT_EQ("/srv/Recordings.v3", folder(2, 19));
  EXPECT_EQ("-1", folder(2, 18));
  EXPECT_EQ("-3", folder(0, 2));

  std::u16string none(4, u'x');
  EXPECT_EQ(-1, getDataFolder(8, &none[0], 0));
}

// The configuration folder is the install prefix's sysconfdir, as
// GNUInstallDirs names it.
std::string expectedSystemConfig() {
  const std::string prefix = HEARKENER_TEST_INSTALL_PREFIX;
  if (prefix == "/usr" || prefix == "/") return "/etc/hearkener";
  return prefix + "/etc/hearkener";
}

TEST(DataFolderTest, UserFoldersFollowTheXdgVariables) {
  const std::string system = expectedSystemConfig() + "/defaults.ini";
  struct Case {
    const char* configHome;  // null: unset
    const char* stateHome;
    const char* home;
    const char* crashDir;  // the configured key
    std::vector<std::string> configFiles;
    const char* crashFolder;
  };
  const Case cases[] = {
      {"/c", "/s", "/home/u", "",
       {system, "/c/hearkener/defaults.ini"}, "/s/hearkener/crashes"},
      {nullptr, nullptr, "/home/u", "",
       {system, "/home/u/.config/hearkener/defaults.ini"},
       "/home/u/.local/state/hearkener/crashes"},
      // Empty and relative values count as unset.
      {"", "rel/state", "/root", "",
       {system, "/root/.config/hearkener/defaults.ini"},
       "/root/.local/state/hearkener/crashes"},
      {nullptr, "/s", "/home/u", "/srv/crash reports",
       {system, "/home/u/.config/hearkener/defaults.ini"},
       "/srv/crash reports"},
  };
  for (const Case& c : cases) {
    ScopedEnv config("XDG_CONFIG_HOME", c.configHome);
    ScopedEnv state("XDG_STATE_HOME", c.stateHome);
    ScopedEnv home("HOME", c.home);
    GlobalsOverride globals(3, "");
    std::snprintf(getGlobals()->crashDir, sizeof getGlobals()->crashDir, "%s",
                  c.crashDir);
    ConfigFiles files;
    globalsConfigFiles(&files);
    EXPECT_EQ(c.configFiles, std::vector<std::string>(
                                 files.paths, files.paths + files.count))
        << c.home;
    EXPECT_EQ(c.crashFolder, folder(8)) << c.crashFolder;
  }
}

}  // namespace
