// The POSIX side of the file utilities: absolute paths from the root and
// against the real current folder, close-on-exec of opened files as a child
// program sees it, and file names that are bytes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "support/file_utils.h"
#include "support/utf_convert.h"
#include "tests/test_files.h"

extern char** environ;

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

TEST(FileUtilsTest, FullPathFailsWhenTheDestinationIsTooSmall) {
  char16_t out[9];
  // "/abc/def" plus its terminator needs exactly 9 units.
  EXPECT_NE(nullptr, utf16FullPath(out, u"/abc/def", 9));
  EXPECT_EQ(nullptr, utf16FullPath(out, u"/abc/defg", 9));
  EXPECT_EQ(ERANGE, errno);
  EXPECT_EQ(nullptr, utf16FullPath(out, u"/", 1));
}

// Changes the current directory for the test and back afterwards.
class CurrentDir {
 public:
  explicit CurrentDir(const std::string& path) {
    char old[4096];
    if (getcwd(old, sizeof old) != nullptr) old_ = old;
    changed_ = chdir(path.c_str()) == 0;
  }
  ~CurrentDir() {
    if (!old_.empty() && chdir(old_.c_str()) != 0) ADD_FAILURE();
  }
  bool changed() const { return changed_; }

 private:
  std::string old_;
  bool changed_ = false;
};

TEST(FileUtilsTest, FullPathJoinsRelativeNamesToTheCurrentDirectory) {
  test_files::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  char real[4096];
  ASSERT_NE(nullptr, realpath(dir.path().c_str(), real));
  CurrentDir cd(real);
  ASSERT_TRUE(cd.changed());
  char16_t out[kPathUnits];
  ASSERT_NE(nullptr, utf16FullPath(out, u"sub/../name.wav", kPathUnits));
  EXPECT_EQ(std::string(real) + "/name.wav", narrow(out));
  char16_t small[2];
  EXPECT_EQ(nullptr, utf16FullPath(small, u"name.wav", 2));
}

// Runs /bin/sh with the script, inheriting every descriptor not marked
// close-on-exec; returns its exit status.
int runShell(const std::string& script) {
  const char* argv[] = {"/bin/sh", "-c", script.c_str(), nullptr};
  pid_t child = 0;
  if (posix_spawn(&child, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv),
                  environ) != 0) {
    return -1;
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

TEST(FileUtilsTest, OpenedFilesAreNotInheritedByChildPrograms) {
  test_files::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string path = dir.file("held.txt");
  FILE* held = utf8FopenNoInherit(path.c_str(), "w");
  ASSERT_NE(nullptr, held);
  const int descriptor = fileno(held);
  EXPECT_NE(0, fcntl(descriptor, F_GETFD) & FD_CLOEXEC);
  const std::string probe = "test -e /proc/$$/fd/" + std::to_string(descriptor);
  EXPECT_EQ(1, runShell(probe));
  // The probe does see a descriptor that is inherited.
  ASSERT_EQ(0, fcntl(descriptor, F_SETFD, 0));
  EXPECT_EQ(0, runShell(probe));
  std::fclose(held);
}

TEST(FileUtilsTest, Mkdir) {
  test_files::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::u16string sub = wide(dir.file("sub"));
  EXPECT_EQ(0, utf16Mkdir(sub.c_str()));
  EXPECT_EQ(-1, utf16Mkdir(sub.c_str()));
  EXPECT_EQ(EEXIST, errno);
  struct stat info;
  ASSERT_EQ(0, stat(dir.file("sub").c_str(), &info));
  EXPECT_TRUE(S_ISDIR(info.st_mode));
}

// A wide name that has no UTF-8 form (a lone surrogate) reaches no file,
// not even the one its convertible beginning names; nor does a wide name
// too long for the system.
TEST(FileUtilsTest, WideNamesWithoutASystemFormReachNoFile) {
  test_files::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string decoy = dir.file("a");
  ASSERT_TRUE(test_files::writeFile(decoy, {1, 2, 3}));
  for (const char16_t surrogate : {u'\xD800', u'\xDC00'}) {
    const std::u16string name = wide(decoy) + surrogate + u"b";
    errno = 0;
    EXPECT_EQ(-1, utf16Mkdir(name.c_str()));
    EXPECT_EQ(EILSEQ, errno);
  }
  EXPECT_EQ(test_files::readFile(decoy), (test_files::Bytes{1, 2, 3}));
  EXPECT_EQ(-1, utf16Mkdir(std::u16string(5000, u'a').c_str()));
  EXPECT_EQ(ENAMETOOLONG, errno);
  EXPECT_EQ(-1, utf16Mkdir(nullptr));
  EXPECT_EQ(EINVAL, errno);
}

// A POSIX file name is bytes: names that are not UTF-8 open, hold their
// bytes on disk.
TEST(FileUtilsTest, ByteNamesReachTheSystemUnchanged) {
  test_files::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  for (const char* name : {"bad\xff.wav", "latin1-caf\xe9.wav", "nul\xc0\x80",
                           "caf\xc3\xa9.wav"}) {
    SCOPED_TRACE(name);
    const std::string path = dir.file(name);
    FILE* file = utf8FopenNoInherit(path.c_str(), "wb");
    ASSERT_NE(nullptr, file);
    std::fclose(file);
    struct stat info;
    EXPECT_EQ(0, lstat(path.c_str(), &info));
  }
}

}  // namespace
