// The program folder cut from the program's path, and the creation of
// folder trees (real folders, and the walk's decisions for drive and network
// paths). The POSIX folders of every kind are tested in
// data_folder_posix_test.cpp, crash reporting in a child process in
// crash_reporting_posix_test.cpp.
#include "support/data_folder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/file_utils.h"
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

std::string narrow(const std::u16string& text) {
  std::string out(text.size() * 3 + 1, '\0');
  utf16ToUtf8Convert(&out[0], text.c_str(), out.size());
  out.resize(std::strlen(out.c_str()));
  return out;
}

TEST(DataFolderTest, ProgramFolderIsCutAtTheLastSeparatorOfEitherKind) {
  struct Case {
    const char* program;
    size_t size;
    const char* folder;  // or the negative result
  };
  const Case cases[] = {
      {"/usr/bin/hearkener", 64, "/usr/bin"},
      {"Z:\\work\\build\\hearkener.exe", 64, "Z:\\work\\build"},
      {"C:\\tools/bin\\hearkener.exe", 64, "C:\\tools/bin"},
      {"C:/tools\\bin/hearkener.exe", 64, "C:/tools\\bin"},
      {"/hearkener", 64, ""},
      {"hearkener.exe", 64, "-2"},
      {"Z:\\ab\\x.exe", 6, "Z:\\ab"},
      {"Z:\\ab\\x.exe", 5, "-3"},
  };
  for (const Case& c : cases) {
    std::u16string out(c.size, u'\0');
    const int32_t length =
        dataFolderOfProgram(wide(c.program).c_str(), &out[0], c.size);
    out.resize(length < 0 ? 0 : static_cast<size_t>(length));
    EXPECT_EQ(c.folder, length < 0 ? std::to_string(length) : narrow(out))
        << c.program;
  }
}

// Records the folders the walk asks for; fails with `failWith` at `failAt`.
struct Recorder {
  std::vector<std::string> made;
  std::string failAt;
  int32_t failWith = 0;
};

int32_t recordMake(const char16_t* path, void* context) {
  Recorder* recorder = static_cast<Recorder*>(context);
  const std::string name = narrow(path);
  recorder->made.push_back(name);
  return name == recorder->failAt ? recorder->failWith : 0;
}

TEST(DataFolderTest, WalkCreatesEveryFolderBelowRootsAndShares) {
  struct Case {
    const char* path;
    std::vector<std::string> made;
  };
  const Case cases[] = {
      {"C:\\a\\b\\c", {"C:\\a", "C:\\a\\b", "C:\\a\\b\\c"}},
      {"C:\\a\\b\\c\\", {"C:\\a", "C:\\a\\b", "C:\\a\\b\\c"}},
      {"C:\\", {}},
      {"\\\\server\\share\\dir\\sub",
       {"\\\\server\\share\\dir", "\\\\server\\share\\dir\\sub"}},
      {"//server/share/", {}},
      {"/a//b/", {"/a", "/a//b"}},
      {"/", {}},
      {"x/y", {"x", "x/y"}},
      {"ab", {"ab"}},
  };
  for (const Case& c : cases) {
    Recorder recorder;
    EXPECT_EQ(0, makeDirTreeWalk(wide(c.path).c_str(), recordMake, &recorder))
        << c.path;
    EXPECT_EQ(c.made, recorder.made) << c.path;
  }
  Recorder exists;
  exists.failAt = "/a";
  exists.failWith = EEXIST;
  EXPECT_EQ(0, makeDirTreeWalk(u"/a/b", recordMake, &exists));
  EXPECT_EQ(2u, exists.made.size());
  Recorder denied;
  denied.failAt = "/a";
  denied.failWith = EACCES;
  EXPECT_EQ(-1, makeDirTreeWalk(u"/a/b", recordMake, &denied));
  EXPECT_EQ(std::vector<std::string>({"/a"}), denied.made);
}

TEST(DataFolderTest, MakeDirTreeCreatesNestedFolders) {
  test_files::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string deep = dir.file("a/b/c");
  EXPECT_EQ(0, makeDirTree(wide(deep).c_str()));
  EXPECT_TRUE(std::filesystem::is_directory(deep));
  EXPECT_EQ(0, makeDirTree(wide(deep).c_str()));  // exists already
  EXPECT_EQ(0, makeDirTree(wide(dir.file("x/y/")).c_str()));
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("x/y")));
  EXPECT_EQ(0, makeDirTree(wide(dir.file("p/./q/../r")).c_str()));
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("p/r")));
  ASSERT_TRUE(test_files::writeFile(dir.file("file"), {1}));
  EXPECT_EQ(-1, makeDirTree(wide(dir.file("file/sub")).c_str()));
}

}  // namespace
