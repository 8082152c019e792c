// The "defaults.ini" line parser: key matching, the value kinds, the text
// rules (blanks, quotes, escapes, length limits) and the enum message.
#include "support/ini_parser.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "support/globals.h"
#include "tests/test_files.h"

namespace {

std::unique_ptr<Globals> defaults() {
  std::unique_ptr<Globals> globals(new Globals);
  globalsSetDefaults(globals.get());
  return globals;
}

TEST(IniParserTest, IntegerKeys) {
  struct Case {
    const char* line;
    int32_t release;
  };
  const Case cases[] = {
      {"release=4\n", 4},
      {"release = 4\r\n", 4},
      {" re lea\tse\t=\t7", 7},  // blanks inside the name are removed
      {"RELEASE=0x10\n", 16},
      {"Release=010\n", 8},  // leading 0: octal
      {"release=-2\n", -2},
      {"release=12abc\n", 12},
      {"release=abc\n", 3},  // no number: rejected
      {"release=\n", 3},
      {"release=99999999999\n", INT32_MAX},
      {"release=-99999999999\n", INT32_MIN},
      {"# release=5\n", 3},
      {"=release=5\n", 3},
      {"release 5\n", 3},
      {"releases=5\n", 3},
      {"", 3},
  };
  for (const Case& c : cases) {
    auto globals = defaults();
    iniParseLine(globals.get(), c.line);
    EXPECT_EQ(c.release, globals->release) << c.line;
  }
}

TEST(IniParserTest, TextValues) {
  struct Case {
    const char* line;
    const char* dir;
  };
  const Case cases[] = {
      {"dir=\"C:\\\\Data\\\\Rec\"\n", "C:\\Data\\Rec"},
      {"dir=C:\\Data\n", "C:\\ata"},  // the unknown escape swallows the D
      {"dir=  /srv/rec  \t\r\n", "/srv/rec"},
      {"dir=\"\"\n", "\"\""},  // only the two quotes: kept
      {"dir=\"a\"\n", "a"},
      {"dir=\"a\n", "\"a"},
      {"dir=a\\tb\\nc\n", "a\tb\nc"},
      {"dir=a\\a\\b\\f\\r\\v\n", "a\a\b\f\r\v"},
      {"dir=end\\\n", "end\\"},  // a final backslash stays
      {"dir=a\\\\\\\\b\n", "a\\\\b"},
      {"dir=\n", ""},
      {"DIR=x = y\n", "x = y"},
  };
  for (const Case& c : cases) {
    auto globals = defaults();
    iniParseLine(globals.get(), c.line);
    EXPECT_STREQ(c.dir, globals->dir) << c.line;
  }
}

TEST(IniParserTest, TextLimitsLeaveTheFieldEmptyWhenTooLong) {
  auto globals = defaults();
  const std::string fits = "regPath=" + std::string(127, 'r') + "\n";
  iniParseLine(globals.get(), fits.c_str());
  EXPECT_EQ(std::string(127, 'r'), globals->regPath);
  const std::string tooLong = "regPath=" + std::string(128, 'r') + "\n";
  iniParseLine(globals.get(), tooLong.c_str());
  EXPECT_STREQ("", globals->regPath);
}

// The enumerated keys are checked, not kept: only the message shows them.
TEST(IniParserTest, EnumKeysAndTheirMessage) {
  auto globals = defaults();
  const Globals before = *globals;
  testing::internal::CaptureStderr();
  iniParseLine(globals.get(), "cdrInterval = CDRI_WEEKLY\n");
  iniParseLine(globals.get(), "autoArchive=CDRI_HALFYEARLY\n");
  iniParseLine(globals.get(), "dtmfSource=\tDTMF_SRC_NT\n");
  iniParseLine(globals.get(), "dtmfSource=DTMF_SRC_XY\n");
  iniParseLine(globals.get(), "cdrInterval=\n");  // a bare line end: silent
  iniParseLine(globals.get(), "decoder_fmt=FMT_UNKNOWN\n");
  EXPECT_EQ(
      "getGlobals: can not interpret enum DTMF_SRC_XY\n\n"
      "getGlobals: can not interpret enum FMT_UNKNOWN\n\n",
      testing::internal::GetCapturedStderr());
  EXPECT_EQ(0, std::memcmp(&before, globals.get(), sizeof before));
}

TEST(IniParserTest, EnumLookupTakesTheFirstPrefixMatch) {
  const EnumName table[] = {{"AB", 1}, {"ABC", 2}, {"X", 3}, {"", 0}};
  int32_t value = -1;
  EXPECT_EQ(4, enumLookup("  ABC", table, &value));  // AB is listed first
  EXPECT_EQ(1, value);
  EXPECT_EQ(2, enumLookup("\tX\n", table, &value));
  EXPECT_EQ(3, value);
  value = 7;
  EXPECT_EQ(-1, enumLookup("\n", table, &value));
  EXPECT_EQ(-1, enumLookup("\r\n", table, &value));
  EXPECT_EQ(7, value);
}

TEST(IniParserTest, EveryKeyIsRecognisedWhateverItsCase) {
  for (size_t i = 0; i < globalsKeyCount; ++i) {
    std::string name = globalsKeyTable[i].name;
    EXPECT_EQ(&globalsKeyTable[i], globalsFindKey(name.c_str())) << name;
    for (char& c : name) c = static_cast<char>(std::toupper(c));
    EXPECT_NE(nullptr, globalsFindKey(name.c_str())) << name;
    EXPECT_LE(globalsKeyTable[i].offset + globalsKeyTable[i].size,
              sizeof(Globals));
  }
  EXPECT_EQ(nullptr, globalsFindKey("unknownKey"));
}

TEST(IniParserTest, ReadsFilesLineByLineAndSplitsLongLines) {
  const std::string text =
      "# comment\n"
      "release = 4\n"
      "vendor=\"Acme\"\n"  // a key this program ignores
      "no equals sign here\n"
      "dir=" +
      std::string(300, 'd') +
      "\n"  // read as two lines
      "regPath" +
      std::string(130, ' ') +
      "=far\n"
      "version=9.9\n";
  std::unique_ptr<FILE, int (*)(FILE*)> file(test_files::anonymousTempFile(),
                                             fclose);
  ASSERT_TRUE(file);
  ASSERT_EQ(text.size(), std::fwrite(text.data(), 1, text.size(), file.get()));
  std::rewind(file.get());
  auto globals = defaults();
  iniReadFile(globals.get(), file.get());
  EXPECT_EQ(4, globals->release);
  EXPECT_EQ(std::string(255, 'd'), globals->dir);
  EXPECT_STREQ("quandrilex", globals->regPath);  // '=' beyond 128 characters
}

}  // namespace
