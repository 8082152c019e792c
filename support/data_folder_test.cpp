// Folder names for every kind, destinations of every size, the creation of
// folder trees (real folders, and the walk's decisions for drive and
// network paths), and crash-reporting set-up in a child process.
#include "support/data_folder.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/crash_reporting.h"
#include "support/file_utils.h"
#include "support/globals.h"
#include "support/utf_convert.h"
#include "tests/scoped_env.h"
#include "tests/test_files.h"

namespace {

using test_env::ScopedEnv;

std::u16string wide(const std::string& text) {
  std::u16string out(text.size() + 1, u'\0');
  const UtfCopyResult copied =
      utf8ToUcs2Convert(&out[0], text.c_str(), out.size());
  out.resize(copied.status == UtfStatus::kOk ? copied.written - 1 : 0);
  return out;
}

std::string narrow(const std::u16string& text) {
  std::string out(text.size() * 3 + 1, '\0');
  ucs2ToUtf8Convert(&out[0], text.c_str(), out.size());
  out.resize(std::strlen(out.c_str()));
  return out;
}

// Sets the identity fields of the loaded record for one test and puts the
// record back afterwards.
class GlobalsOverride {
 public:
  GlobalsOverride(int32_t release, const char* dir) {
    Globals* globals = getGlobals();
    std::memcpy(&saved_, globals, sizeof saved_);
    globals->release = release;
    std::snprintf(globals->dir, sizeof globals->dir, "%s", dir);
    std::snprintf(globals->regPath, sizeof globals->regPath, "quandrilex");
    std::snprintf(globals->productName, sizeof globals->productName,
                  "Tellan USB");
  }
  ~GlobalsOverride() { std::memcpy(getGlobals(), &saved_, sizeof saved_); }

 private:
  Globals saved_;
};

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
  ScopedEnv appData("HEARKENER_COMMON_APPDATA", "/data/common");
  GlobalsOverride globals(3, "");
  struct Case {
    int32_t kind;
    const char* path;
  };
  const Case cases[] = {
      {1, "/srv/Recordings.v3/tmp"},
      {2, "/srv/Recordings.v3"},
      {3, "/data/common/quandrilex/Tellan USB"},
      {4, "/data/common/quandrilex/Tellan USB"},
      {5, "/data/common/quandrilex/Tellan USB/log"},
      {6, "/data/common/quandrilex/Tellan USB/events"},
      {7, "-1"},
      {8, "/data/common/quandrilex/Tellan USB/crashdumps"},
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

TEST(DataFolderTest, DataRootByReleaseAndConfiguration) {
  {
    GlobalsOverride globals(4, "");
    EXPECT_EQ("/srv/Recordings", folder(2));
    EXPECT_EQ("/srv/Recordings/tmp", folder(1));
  }
  {
    GlobalsOverride globals(3, "C:\\Data\\Rec");
    EXPECT_EQ("C:\\Data\\Rec", folder(2));
    EXPECT_EQ("C:\\Data\\Rec/tmp", folder(1));
  }
  {
    GlobalsOverride globals(3, "/rec/");
    EXPECT_EQ("/rec/tmp", folder(1));  // no second separator
  }
  {
    GlobalsOverride globals(3, "/rec/caf\xc3\xa9");
    EXPECT_EQ("/rec/caf\xc3\xa9", folder(2));
  }
}

TEST(DataFolderTest, TooSmallDestinations) {
  ScopedEnv appData("HEARKENER_COMMON_APPDATA", "/var/lib/");
  GlobalsOverride globals(3, "");
  const std::string crash = "/var/lib/quandrilex/Tellan USB/crashdumps";
  EXPECT_EQ(crash, folder(8, crash.size() + 1));
  for (size_t size :
       {crash.size(), size_t{20}, size_t{9}, size_t{8}, size_t{1}}) {
    EXPECT_EQ("-1", folder(8, size)) << size;
  }
  EXPECT_EQ("/srv/Recordings.v3/tmp", folder(1, 23));
  EXPECT_EQ("-1", folder(1, 22));
  EXPECT_EQ("-1", folder(2, 18));
  EXPECT_EQ("-3", folder(0, 2));

  std::u16string none(4, u'x');
  EXPECT_EQ(-1, getDataFolder(3, &none[0], 0));
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

// Runs `body` in a child process and returns its wait status.
template <typename Body>
int inChild(Body body) {
  const pid_t child = fork();
  if (child == 0) {
    body();
    _exit(0);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child) return -1;
  return status;
}

std::vector<std::string> filesIn(const std::string& path) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

TEST(CrashReportingTest, SetUpRunsOnceAndAbortLeavesAReport) {
  test_files::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string crashDumps =
      dir.path() + "/quandrilex/Tellan USB/crashdumps";
  const int status = inChild([&] {
    setenv("HEARKENER_COMMON_APPDATA", dir.path().c_str(), 1);
    GlobalsOverride globals(3, "");
    crashReportingSetup("unit");
    if (rmdir(crashDumps.c_str()) != 0) _exit(10);
    crashReportingSetup("unit");  // does nothing: the folder stays away
    struct stat info;
    if (stat(crashDumps.c_str(), &info) == 0) _exit(11);
    if (mkdir(crashDumps.c_str(), 0700) != 0) _exit(12);
    abort();
  });
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(SIGABRT, WTERMSIG(status));
  const std::vector<std::string> reports = filesIn(crashDumps);
  ASSERT_EQ(1u, reports.size());
  EXPECT_EQ(0u, reports[0].rfind("Crash-unit-", 0)) << reports[0];
  const test_files::Bytes bytes =
      test_files::readFile(crashDumps + "/" + reports[0]);
  const std::string report(bytes.begin(), bytes.end());
  EXPECT_NE(std::string::npos, report.find("application: unit\n"));
  EXPECT_NE(std::string::npos, report.find("signal: 6 (SIGABRT)\n"));
  EXPECT_NE(std::string::npos, report.find("backtrace:\n"));
}

TEST(CrashReportingTest, WithoutACrashDumpFolderNothingIsWritten) {
  test_files::TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  ASSERT_TRUE(test_files::writeFile(dir.file("blocker"), {1}));
  const int status = inChild([&] {
    // The application-data folder lies below a plain file: it cannot exist.
    setenv("HEARKENER_COMMON_APPDATA", dir.file("blocker").c_str(), 1);
    GlobalsOverride globals(3, "");
    crashReportingSetup("unit");
    raise(SIGFPE);
  });
  ASSERT_TRUE(WIFSIGNALED(status)) << status;
  EXPECT_EQ(SIGFPE, WTERMSIG(status));
  EXPECT_EQ(std::vector<std::string>({"blocker"}), filesIn(dir.path()));
}

}  // namespace
