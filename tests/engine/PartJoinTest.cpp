#include "engine/PartJoin.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <map>
#include <sys/resource.h>
#include <sys/stat.h>

using velmora::JoinParts;
using velmora::RoundedPercent;
using velmora::TCombineOutcome;
using velmora::TCombineTexts;
using velmora::TPartJoinJob;
using velmora::testing::ReadWholeFile;
using velmora::testing::TempDir;
using velmora::testing::WriteWholeFile;
namespace fs = std::filesystem;

namespace {

std::string Pattern(std::size_t size, char seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>(seed + static_cast<char>(i * 7 % 251));
  return bytes;
}

using Parts = std::map<int64_t, std::string>; // start offset -> contents

// Part files in a "Partial Downloads" folder, the final file in a folder that does not exist yet.
class PartJoinTest : public ::testing::TestWithParam<bool> {
protected:
  PartJoinTest() : stem(dir.file("Partial Downloads/dl1")), local(dir.file("Saved/sub/file.bin")) {
    fs::create_directories(dir.path() / "Partial Downloads");
  }

  void writeParts(const Parts &parts) {
    for (const auto &[offset, contents] : parts)
      WriteWholeFile(stem + "." + std::to_string(offset), contents);
  }
  TCombineOutcome join(int64_t size) {
    return JoinParts(
        TPartJoinJob{local, stem, size, GetParam()}, TCombineTexts{},
        [this](int percent) { percents.push_back(percent); }, cancelled);
  }
  // Whatever the outcome, nothing but the final file may be left beside it.
  std::vector<std::string> besideLocal() const {
    std::vector<std::string> names;
    if (fs::exists(fs::path(local).parent_path()))
      for (const auto &entry : fs::directory_iterator(fs::path(local).parent_path()))
        names.push_back(entry.path().filename().string());
    return names;
  }
  void expectPartsKept(const Parts &parts) const {
    for (const auto &[offset, contents] : parts)
      EXPECT_EQ(ReadWholeFile(stem + "." + std::to_string(offset)), contents) << "part " << offset;
  }
  void expectPartsGone(const Parts &parts) const {
    for (const auto &[offset, contents] : parts)
      EXPECT_FALSE(fs::exists(stem + "." + std::to_string(offset))) << "part " << offset;
  }

  TempDir dir;
  const std::string stem, local;
  std::vector<int> percents;
  std::atomic<bool> cancelled{false};
};

TEST_P(PartJoinTest, JoinsInOffsetOrderOrFailsLeavingEverything) {
  struct Case {
    const char *what;
    Parts parts;
    int64_t size;
    std::vector<int> percents;
    std::string failure; // empty when the join succeeds; {stem} and {local} stand for the paths
  };
  const Case cases[] = {
      {"two parts", {{0, Pattern(100, 'a')}, {100, Pattern(50, 'b')}}, 150, {0, 67, 100}, ""},
      {"a part of exactly one block", {{0, Pattern(65536, 'c')}}, 65536, {0, 100}, ""},
      {"unknown size: the one part", {{0, Pattern(1234, 'd')}}, -1, {0, 100}, ""},
      {"progress at block points",
       {{0, Pattern(200000, 'e')}, {200000, Pattern(100000, 'f')}},
       300000,
       {0, 22, 44, 66, 67, 89, 100},
       ""},
      {"empty download", {}, 0, {}, ""},
      {"empty remote file: its empty first part goes", {{0, ""}}, 0, {}, ""},
      {"part missing", {{0, Pattern(100, 'g')}}, 150, {0, 67}, "Couldn't open {stem}.100"},
      {"part too short",
       {{0, Pattern(90, 'h')}, {100, Pattern(50, 'i')}},
       150,
       {0, 60},
       "Couldn't open {stem}.90"},
      {"empty part", {{0, Pattern(100, 'j')}, {100, ""}}, 150, {0, 67}, "Couldn't open {stem}.100"},
      {"last part too long",
       {{0, Pattern(100, 'k')}, {100, Pattern(60, 'l')}},
       150,
       {0, 67, 107},
       "Filesize mismatch {local}"},
      {"unknown size without a part", {}, -1, {}, "Couldn't open {stem}.0"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    percents.clear();
    writeParts(c.parts);
    const TCombineOutcome outcome = join(c.size);
    EXPECT_EQ(percents, c.percents);
    if (c.failure.empty()) {
      ASSERT_TRUE(outcome.Combined) << outcome.Message;
      std::string joined;
      for (const auto &[offset, contents] : c.parts)
        joined += contents;
      EXPECT_EQ(ReadWholeFile(local), joined);
      expectPartsGone(c.parts);
      EXPECT_EQ(besideLocal(), std::vector<std::string>{"file.bin"});
      fs::remove(local);
    } else {
      std::string message = c.failure;
      message.replace(message.find('{'), message.find('}') - message.find('{') + 1,
                      c.failure.find("{stem}") != std::string::npos ? stem : local);
      EXPECT_FALSE(outcome.Combined);
      EXPECT_EQ(outcome.Message, message);
      expectPartsKept(c.parts);
      EXPECT_FALSE(fs::exists(local)) << "a failed join leaves no final file";
      EXPECT_TRUE(besideLocal().empty()) << "the temporary file is removed";
      for (const auto &[offset, contents] : c.parts)
        fs::remove(stem + "." + std::to_string(offset));
    }
  }
}

TEST_P(PartJoinTest, ExistingFinalFileIsReplacedOnlyBySuccessAndKeepsItsMode) {
  fs::create_directories(fs::path(local).parent_path());
  WriteWholeFile(local, "an earlier download");
  ASSERT_EQ(::chmod(local.c_str(), 0640), 0);
  writeParts({{0, "new "}});
  EXPECT_FALSE(join(10).Combined);
  EXPECT_EQ(ReadWholeFile(local), "an earlier download");

  writeParts({{4, "contents"}});
  ASSERT_TRUE(join(12).Combined);
  EXPECT_EQ(ReadWholeFile(local), "new contents");
  struct stat info {};
  ASSERT_EQ(::stat(local.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
}

// The kernel's way moves a part that is the whole file into place instead of copying it; either
// way an earlier file's mode is kept and nothing is left beside the final file.
TEST_P(PartJoinTest, OnePartThatIsTheWholeFileReplacesAnEarlierFile) {
  fs::create_directories(fs::path(local).parent_path());
  WriteWholeFile(local, "an earlier download");
  ASSERT_EQ(::chmod(local.c_str(), 0640), 0);
  const Parts parts{{0, Pattern(200000, 'p')}};
  writeParts(parts);
  struct stat part {};
  ASSERT_EQ(::stat((stem + ".0").c_str(), &part), 0);
  ASSERT_TRUE(join(200000).Combined);
  EXPECT_EQ(percents, (std::vector<int>{0, 33, 66, 98, 100}));
  EXPECT_EQ(ReadWholeFile(local), parts.at(0));
  expectPartsGone(parts);
  EXPECT_EQ(besideLocal(), std::vector<std::string>{"file.bin"});
  struct stat joined {};
  ASSERT_EQ(::stat(local.c_str(), &joined), 0);
  EXPECT_EQ(joined.st_mode & 0777, 0640u);
  EXPECT_EQ(joined.st_ino == part.st_ino, GetParam()) << "moved with the kernel's way, copied otherwise";
}

// With the kernel's way the others are appended to the first part, which is then moved into
// place; a first part that has another name too is copied instead, so that name keeps its bytes.
TEST_P(PartJoinTest, TheFirstPartBecomesTheFileUnlessItHasOtherLinks) {
  const Parts parts{{0, Pattern(70000, 'q')}, {70000, Pattern(5000, 'r')}, {75000, Pattern(25000, 's')}};
  const std::string joined = parts.at(0) + parts.at(70000) + parts.at(75000);
  for (const bool linked : {false, true}) {
    SCOPED_TRACE(linked ? "first part with another link" : "first part alone");
    writeParts(parts);
    const std::string link = dir.file("another name");
    if (linked) {
      ASSERT_EQ(::link((stem + ".0").c_str(), link.c_str()), 0);
    }
    struct stat first {};
    ASSERT_EQ(::stat((stem + ".0").c_str(), &first), 0);
    ASSERT_TRUE(join(100000).Combined);
    EXPECT_EQ(ReadWholeFile(local), joined);
    expectPartsGone(parts);
    struct stat result {};
    ASSERT_EQ(::stat(local.c_str(), &result), 0);
    EXPECT_EQ(result.st_ino == first.st_ino, GetParam() && !linked);
    if (linked) {
      EXPECT_EQ(ReadWholeFile(link), parts.at(0));
    }
    fs::remove(link);
  }
}

TEST_P(PartJoinTest, FinalNameThatCannotBeAFileIsReported) {
  writeParts({{0, "data"}});
  fs::create_directories(local); // a folder stands where the file should go
  TCombineOutcome outcome = join(4);
  EXPECT_FALSE(outcome.Combined);
  EXPECT_EQ(outcome.Message, "Couldn't open " + local);

  outcome = JoinParts(
      TPartJoinJob{"", stem, 4, GetParam()}, TCombineTexts{}, [](int) {}, cancelled);
  EXPECT_FALSE(outcome.Combined);
  EXPECT_EQ(outcome.Message, "Couldn't open ");
  expectPartsKept({{0, "data"}});
}

TEST_P(PartJoinTest, FullDiskFailsTheJoinAndKeepsEveryPart) {
  const Parts parts{{0, Pattern(300000, 'm')}, {300000, Pattern(300000, 'n')}};
  writeParts(parts);
  // A file size limit makes writes fail with EFBIG as a full disk fails them with ENOSPC.
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  rlimit limited = saved;
  limited.rlim_cur = 400000;
  const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  const TCombineOutcome outcome = join(600000);
  ::setrlimit(RLIMIT_FSIZE, &saved);
  (void)std::signal(SIGXFSZ, previousHandler);
  EXPECT_FALSE(outcome.Combined);
  EXPECT_EQ(outcome.Message, "Couldn't write " + local + ": File too large");
  expectPartsKept(parts);
  EXPECT_FALSE(fs::exists(local));
  EXPECT_TRUE(besideLocal().empty());
}

TEST_P(PartJoinTest, CancelledJoinLeavesNothing) {
  writeParts({{0, Pattern(1000, 'o')}});
  cancelled = true;
  const TCombineOutcome outcome = join(1000);
  EXPECT_FALSE(outcome.Combined);
  expectPartsKept({{0, Pattern(1000, 'o')}});
  EXPECT_FALSE(fs::exists(local));
  EXPECT_TRUE(besideLocal().empty());
}

INSTANTIATE_TEST_SUITE_P(KernelCopyAndPlainCopy, PartJoinTest, ::testing::Bool());

TEST(RoundedPercent, RoundsHalvesToEven) {
  struct Case {
    int64_t total, size;
    int percent;
  };
  const Case cases[] = {{0, 150, 0},
                        {100, 150, 67},
                        {150, 150, 100},
                        {1, 200, 0},
                        {3, 200, 2},
                        {5, 200, 2},
                        {7, 200, 4},
                        {1, 3, 33},
                        {199, 200, 100},
                        {int64_t{1} << 40, int64_t{1} << 41, 50},
                        {(int64_t{5} << 32) + 1, int64_t{10} << 32, 50}};
  for (const Case &c : cases)
    EXPECT_EQ(RoundedPercent(c.total, c.size), c.percent) << c.total << "/" << c.size;
}

} // namespace
