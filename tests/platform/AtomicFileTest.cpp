#include "platform/AtomicFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

using velmora::platform::WriteFileAtomically;
using velmora::testing::ReadWholeFile;
using velmora::testing::TempDir;
using velmora::testing::WriteWholeFile;

namespace {

std::size_t EntriesIn(const std::filesystem::path &folder) {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(folder), {}));
}

TEST(AtomicFile, ReplacesContentsAndKeepsMode) {
  TempDir dir;
  const std::string path = dir.file("cat.dat");
  WriteWholeFile(path, "old and longer contents");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  ASSERT_TRUE(WriteFileAtomically(path, "new"));
  EXPECT_EQ(ReadWholeFile(path), "new");
  struct stat info {};
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_EQ(EntriesIn(dir.path()), 1u) << "no temporary file is left";
}

TEST(AtomicFile, NewFileFollowsUmask) {
  TempDir dir;
  const mode_t old = ::umask(027);
  const auto result = WriteFileAtomically(dir.file("n"), std::string(100000, 'x'));
  ::umask(old);
  ASSERT_TRUE(result);
  struct stat info {};
  ASSERT_EQ(::stat(dir.file("n").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  EXPECT_EQ(info.st_size, 100000);
}

TEST(AtomicFile, TargetThatIsAFolderFailsWithoutLeftovers) {
  TempDir dir;
  std::filesystem::create_directory(dir.path() / "sub");
  WriteWholeFile(dir.path() / "sub" / "inside", "x");
  const auto result = WriteFileAtomically(dir.file("sub"), "data");
  EXPECT_FALSE(result);
  EXPECT_NE(result.error.find(dir.file("sub")), std::string::npos) << result.error;
  EXPECT_EQ(EntriesIn(dir.path()), 1u) << "the temporary file is removed";
  EXPECT_EQ(ReadWholeFile(dir.path() / "sub" / "inside"), "x");
}

TEST(AtomicFile, MissingFolderIsReported) {
  TempDir dir;
  const auto result = WriteFileAtomically(dir.file("gone/x"), "data");
  EXPECT_FALSE(result);
  EXPECT_NE(result.error.find("gone"), std::string::npos) << result.error;
}

} // namespace
