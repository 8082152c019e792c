// Loading the configuration record from its layers and hex-decoded values.
// The registry layer over the registry-export file is tested in
// reg_store_posix_test.cpp.
#include "support/globals.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/reg_compat.h"
#include "tests/config_files.h"
#include "tests/test_files.h"

namespace {

using test_globals::ConfigFiles;

TEST(GlobalsTest, DefaultsWithoutFileOrRegistry) {
  ConfigFiles files("", "");
  const auto globals = files.load();
  EXPECT_EQ(3, globals->release);
  EXPECT_STREQ("", globals->dir);
  EXPECT_STREQ("quandrilex", globals->regPath);
  EXPECT_STREQ("Tellan USB", globals->productName);
  EXPECT_STREQ("Software\\quandrilex\\", rcBasePath());
}

TEST(GlobalsTest, ReleaseFourDerivesTheProductName) {
  ConfigFiles files("release = 4 \r\nproductName=x\r\n", "");
  const auto globals = files.load();
  EXPECT_EQ(4, globals->release);
  EXPECT_STREQ("Tellan USB4", globals->productName);
}

TEST(GlobalsTest, HexDecoding) {
  struct Case {
    const char* hex;
    int32_t size;
    const char* text;
  };
  const Case cases[] = {
      {"414243", 16, "ABC"}, {"4a4B4c", 16, "JKL"}, {"41424", 16, "AB"},
      {"41zz43", 16, "A"},   {"", 16, ""},          {"414243", 3, "AB"},
      {"414243", 1, ""},
  };
  for (const Case& c : cases) {
    char out[16];
    globalsHexDecode(c.hex, out, c.size);
    EXPECT_STREQ(c.text, out) << c.hex;
  }
}

}  // namespace
