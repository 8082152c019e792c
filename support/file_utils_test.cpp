// Wide-path file operations: full paths, opens, and the refusal of paths
// that cannot be converted. The cases that need the POSIX current folder,
// child programs or byte names are in file_utils_posix_test.cpp.
#include "support/file_utils.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "support/utf_convert.h"
#include "tests/test_files.h"

namespace {

std::u16string wide(const std::string& text) {
  std::u16string out(text.size() + 1, u'\0');
  const UtfCopyResult copied =
      utf8ToUtf16Convert(&out[0], text.c_str(), out.size());
  out.resize(copied.status == UtfStatus::kOk ? copied.written - 1 : 0);
  return out;
}

std::string narrow(const char16_t* text) {
  std::string out(4 * 4096, '\0');
  utf16ToUtf8Convert(&out[0], text, out.size());
  out.resize(std::char_traits<char>::length(out.c_str()));
  return out;
}

TEST(FileUtilsTest, NormalisesPathsAgainstABase) {
  struct Case {
    const char* base;
    const char* path;
    const char* full;
  };
  const Case cases[] = {
      {"/home/op", "rec.wav", "/home/op/rec.wav"},
      {"/home/op", "./a/./b", "/home/op/a/b"},
      {"/home/op", "../x", "/home/x"},
      {"/home/op", "../../../../x", "/x"},
      {"/home/op", "..", "/home"},
      {"/home/op", "a/b/../../..", "/home"},
      {"/home/op", "/abs//path/", "/abs/path"},
      {"/home/op", "a\\b\\..\\c", "/home/op/a/c"},
      {"/home/op", "", "/home/op"},
      {"/", "..", "/"},
      {"/", ".", "/"},
      {"/home/op", "\\srv\\data", "/srv/data"},
      {"/home//op/", "not/yet/there", "/home/op/not/yet/there"},
  };
  for (const Case& c : cases) {
    char16_t out[256];
    ASSERT_TRUE(utf16NormalisePath(out, wide(c.base).c_str(),
                                   wide(c.path).c_str(), 256))
        << c.path;
    EXPECT_EQ(c.full, narrow(out)) << c.base << " + " << c.path;
  }
}

TEST(FileUtilsTest, NormalisesPathsBelowDriveAndServerRoots) {
  struct Case {
    const char* base;
    const char* path;
    const char* full;
  };
  const Case cases[] = {
      {"C:\\rec", "a\\..\\b.wav", "C:/rec/b.wav"},
      {"C:/rec", "../../..", "C:/"},
      {"C:\\", ".", "C:/"},
      {"C:", "x", "C:/x"},
      {"Z:\\opt\\bin", "\\abs\\x", "Z:/abs/x"},
      {"\\\\srv\\share\\dir", "..\\..\\..\\f", "//srv/share/f"},
      {"//srv/share", "a/./b", "//srv/share/a/b"},
      {"\\\\srv\\share", "\\top", "//srv/share/top"},
  };
  for (const Case& c : cases) {
    char16_t out[64];
    ASSERT_TRUE(
        utf16NormalisePath(out, wide(c.base).c_str(), wide(c.path).c_str(), 64))
        << c.path;
    EXPECT_EQ(c.full, narrow(out)) << c.base << " + " << c.path;
  }
  char16_t small[4];
  EXPECT_TRUE(utf16NormalisePath(small, u"C:\\", u"", 4));
  EXPECT_FALSE(utf16NormalisePath(small, u"C:\\", u"x", 4));
  EXPECT_FALSE(utf16NormalisePath(small, u"\\\\server\\s", u"", 4));
}

TEST(FileUtilsTest, OpenRefusesOverlongModesAndBadPaths) {
  test_files::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string path = dir.file("never.txt");
  EXPECT_EQ(nullptr, utf8FopenNoInherit(path.c_str(), "rb+ccs=UTF-8"));
  EXPECT_EQ(nullptr, utf8FopenNoInherit(path.c_str(), "wwwwwwwwww"));
  struct stat info;
  EXPECT_NE(0, stat(path.c_str(), &info));  // not created

  FILE* nine = utf8FopenNoInherit(path.c_str(), "wbbbbbbbb");
  ASSERT_NE(nullptr, nine);
  std::fclose(nine);

  EXPECT_EQ(nullptr, utf8FopenNoInherit(std::string(5000, 'a').c_str(), "r"));
  EXPECT_EQ(ENAMETOOLONG, errno);
  EXPECT_EQ(nullptr, utf8FopenNoInherit(nullptr, "r"));
}

}  // namespace
