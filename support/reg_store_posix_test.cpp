// The registry layer over the registry-export file of the POSIX registry
// store: values that override the configuration by the section of the
// release, the vendor key, tri-state readers and key paths.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/globals.h"
#include "support/reg_compat.h"
#include "tests/config_files.h"
#include "tests/scoped_env.h"
#include "tests/test_files.h"

namespace {

using test_env::ScopedEnv;
using test_globals::bytesOf;
using test_globals::ConfigFiles;

const char* const kDefaults =
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\quandrilex\\Defaults]\r\n";

TEST(GlobalsTest, RegistryValuesOverrideBySectionOfTheRelease) {
  const std::string registry =
      std::string(kDefaults) +
      "\"rn\"=\"414243\"\r\n"
      "\"sn\"=\"53u56\"\r\n"  // the non-hex pair ends the name
      "\"vn\"=\"3.9\"\r\n"
      "\"vd\"=dword:00000001\r\n"  // not a string: ignored
      "\"rp\"=\"" +
      std::string(128, 'p') +
      "\"\r\n"  // too long: ignored
      "[HKEY_LOCAL_MACHINE\\Software\\quandrilex\\Defaults4]\r\n"
      "\"rn\"=\"34\"\r\n";
  {
    ConfigFiles files("", registry);
    const auto globals = files.load();
    EXPECT_STREQ("ABC", globals->productName);
    EXPECT_STREQ("quandrilex", globals->regPath);
  }
  {
    ConfigFiles files("release=4\n", registry);
    const auto globals = files.load();
    EXPECT_STREQ("4", globals->productName);
  }
}

TEST(GlobalsTest, RegistryVendorKeyGovernsLaterAccess) {
  ConfigFiles files(
      "regPath=acme\n",
      "[HKEY_LOCAL_MACHINE\\Software\\acme\\Defaults]\n\"rp\"=\"other\\\\\"\n");
  const auto globals = files.load();
  EXPECT_STREQ("other\\", globals->regPath);
  EXPECT_STREQ("Software\\other\\", rcBasePath());
}

class RegCompatTest : public testing::Test {
 protected:
  RegCompatTest()
      : env_("HEARKENER_REGISTRY_FILE", dir_.file("registry.reg").c_str()) {
    test_files::writeFile(
        dir_.file("registry.reg"),
        bytesOf("[HKEY_LOCAL_MACHINE\\Software\\vendor\\Defaults]\n"
                "\"text\"=\"hello\"\n"
                "\"number\"=dword:deadBEEF\n"
                "\"abc\"=\"abc\"\n"
                "\"binary\"=hex:01,02\n"
                "[HKEY_LOCAL_MACHINE\\Software\\vendor\\Sec\\a\\b]\n"
                "\"deep\"=\"yes\"\n"));
    rcSetBasePath("vendor");
  }

  test_files::TempDir dir_;
  ScopedEnv env_;
};

TEST_F(RegCompatTest, TriStateReaders) {
  RegKey key;
  ASSERT_EQ(0, rcOpenKey("", &key, "Defaults"));
  EXPECT_STREQ("Software\\vendor\\Defaults\\", key.path);
  char buffer[16];
  EXPECT_EQ(0, rcGetString(&key, "TEXT", buffer, sizeof buffer));
  EXPECT_STREQ("hello", buffer);
  EXPECT_EQ(1, rcGetString(&key, "number", buffer, sizeof buffer));
  EXPECT_EQ(1, rcGetString(&key, "binary", buffer, sizeof buffer));
  EXPECT_EQ(-1, rcGetString(&key, "missing", buffer, sizeof buffer));
  // "hello" and its NUL are 6 bytes: a 6-byte buffer leaves no room for
  // the added terminator, a 5-byte one cannot take the value at all.
  EXPECT_EQ(0, rcGetString(&key, "text", buffer, 7));
  EXPECT_EQ(1, rcGetString(&key, "text", buffer, 6));
  EXPECT_EQ(-1, rcGetString(&key, "text", buffer, 5));

  EXPECT_EQ(0, rcCloseKey(&key));
  EXPECT_EQ(0, rcCloseKey(&key));
  EXPECT_EQ(-1, rcGetString(&key, "text", buffer, sizeof buffer));
}

TEST_F(RegCompatTest, KeyPathsAndMissingKeys) {
  RegKey key;
  EXPECT_EQ(0, rcOpenKey("a/b", &key, "Sec"));
  EXPECT_STREQ("Software\\vendor\\Sec\\a\\b\\", key.path);
  EXPECT_EQ(24, key.pathLength);
  char buffer[8];
  EXPECT_EQ(0, rcGetString(&key, "deep", buffer, sizeof buffer));
  EXPECT_EQ(0, rcOpenKey("a\\b\\", &key, "Sec"));
  EXPECT_EQ(-1, rcOpenKey("a", &key, "Sec"));
  EXPECT_EQ(-1, rcOpenKey("", &key, "Defaults4"));
  EXPECT_EQ(-1, rcOpenKey(std::string(600, 'x').c_str(), &key, "Defaults"));

  rcSetBasePath("vendor\\");
  EXPECT_STREQ("Software\\vendor\\", rcBasePath());
  ScopedEnv missing("HEARKENER_REGISTRY_FILE", dir_.file("none.reg").c_str());
  EXPECT_EQ(-1, rcOpenKey("", &key, "Defaults"));
}

}  // namespace
