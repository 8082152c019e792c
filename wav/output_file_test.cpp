#include "wav/output_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/test_files.h"

namespace {

using test_files::Bytes;
using test_files::fileExists;
using test_files::readFile;
using test_files::TempDir;
using test_files::writeFile;

struct OpenCase {
  const char* label;
  bool exists;
  OutputOpenMode mode;
  bool created;          // what created() tells
  int64_t lengthAfter;   // the file's length after the open
};

class OutputFileOpen : public ::testing::TestWithParam<OpenCase> {};

TEST_P(OutputFileOpen, EmptiesOnlyWhatItMayAndTellsWhetherItMadeTheFile) {
  const OpenCase& c = GetParam();
  TempDir dir;
  const std::string name = dir.file("out.wav");
  if (c.exists) {
    ASSERT_TRUE(writeFile(name, Bytes(10, 7)));
  }
  OutputFile file;
  ASSERT_EQ(file.open(name.c_str(), c.mode, FileIdentity()),
            OutputOpenStatus::kOk);
  EXPECT_TRUE(file.isOpen());
  EXPECT_EQ(file.created(), c.created);
  EXPECT_EQ(file.length(), c.lengthAfter);
  EXPECT_TRUE(file.identity().known);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OutputFileOpen,
    ::testing::Values(
        OpenCase{"MissingKept", false, OutputOpenMode::kKeepContents, true, 0},
        OpenCase{"MissingReplaced", false, OutputOpenMode::kReplace, true, 0},
        OpenCase{"ExistingKept", true, OutputOpenMode::kKeepContents, false,
                 10},
        OpenCase{"ExistingReplaced", true, OutputOpenMode::kReplace, true,
                 0}),
    [](const ::testing::TestParamInfo<OpenCase>& info) {
      return std::string(info.param.label);
    });

TEST(OutputFile, RefusesTheInputAndAFileAnotherOpenHoldsWithoutTouchingThem) {
  TempDir dir;
  const std::string name = dir.file("out.wav");
  ASSERT_TRUE(writeFile(name, Bytes(10, 7)));
  const FileIdentity input = fileIdentityOfPath(name.c_str());
  ASSERT_TRUE(input.known);

  OutputFile file;
  EXPECT_EQ(file.open(name.c_str(), OutputOpenMode::kReplace, input),
            OutputOpenStatus::kSameAsInput);
  EXPECT_FALSE(file.isOpen());
  ASSERT_EQ(file.open(name.c_str(), OutputOpenMode::kKeepContents,
                      FileIdentity()),
            OutputOpenStatus::kOk);
  EXPECT_TRUE(sameFile(file.identity(), input));

  OutputFile second;
  EXPECT_EQ(second.open(name.c_str(), OutputOpenMode::kReplace,
                        FileIdentity()),
            OutputOpenStatus::kBusy);
  EXPECT_EQ(readFile(name), Bytes(10, 7));  // others may still read it
  file.close();
  EXPECT_EQ(second.open(name.c_str(), OutputOpenMode::kKeepContents,
                        FileIdentity()),
            OutputOpenStatus::kOk);
}

TEST(OutputFile, ReadsWritesAndTruncatesAtOffsets) {
  TempDir dir;
  const std::string name = dir.file("out.wav");
  OutputFile file;
  ASSERT_EQ(file.open(name.c_str(), OutputOpenMode::kReplace, FileIdentity()),
            OutputOpenStatus::kOk);
  size_t written = 0;
  ASSERT_TRUE(file.writeAt(4, "world", 5, &written));
  EXPECT_EQ(written, 5u);
  ASSERT_TRUE(file.writeAt(0, "hey ", 4));
  EXPECT_EQ(file.length(), 9);
  char got[5] = {};
  ASSERT_TRUE(file.readAt(4, got, 5));
  EXPECT_EQ(std::memcmp(got, "world", 5), 0);
  EXPECT_FALSE(file.readAt(6, got, 5));  // past the end
  ASSERT_TRUE(file.truncate(3));
  EXPECT_EQ(file.length(), 3);
  file.close();
  EXPECT_EQ(readFile(name), Bytes({'h', 'e', 'y'}));
}

TEST(OutputFile, RemovesOnlyTheSameFile) {
  TempDir dir;
  const std::string name = dir.file("out.wav");
  const std::string other = dir.file("other.wav");
  ASSERT_TRUE(writeFile(other, Bytes(3, 1)));
  OutputFile file;
  ASSERT_EQ(file.open(name.c_str(), OutputOpenMode::kReplace, FileIdentity()),
            OutputOpenStatus::kOk);
  const FileIdentity made = file.identity();
  EXPECT_FALSE(outputFileRemoveIfSame(other.c_str(), made));
  EXPECT_FALSE(outputFileRemoveIfSame(dir.path().c_str(), made));
  EXPECT_TRUE(outputFileRemoveIfSame(name.c_str(), made));  // even while open
  file.close();
  EXPECT_FALSE(fileExists(name));
  EXPECT_TRUE(fileExists(other));
}

TEST(OutputFile, AFolderOrAMissingFolderIsNoOutput) {
  TempDir dir;
  OutputFile file;
  EXPECT_EQ(file.open(dir.path().c_str(), OutputOpenMode::kKeepContents,
                      FileIdentity()),
            OutputOpenStatus::kFailed);
  EXPECT_EQ(file.open(dir.file("none/out.wav").c_str(),
                      OutputOpenMode::kKeepContents, FileIdentity()),
            OutputOpenStatus::kFailed);
  EXPECT_EQ(file.open("", OutputOpenMode::kKeepContents, FileIdentity()),
            OutputOpenStatus::kFailed);
  EXPECT_FALSE(file.isOpen());
}

}  // namespace
