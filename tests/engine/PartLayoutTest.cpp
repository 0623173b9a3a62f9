#include "engine/PartLayout.h"
#include "engine/PartFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

using namespace velmora;
using velmora::testing::ReadWholeFile;
using velmora::testing::TempDir;
using velmora::testing::WriteWholeFile;

namespace {

struct Range {
  int64_t start;
  int64_t end;
  bool operator==(const Range &) const = default;
};

std::vector<Range> RangesOf(const std::vector<TPartPlan> &plan) {
  std::vector<Range> ranges;
  ranges.reserve(plan.size());
  for (const TPartPlan &part : plan)
    ranges.push_back({part.StartByte, part.EndByte});
  return ranges;
}

std::ostream &operator<<(std::ostream &out, const Range &range) {
  return out << "[" << range.start << "," << range.end << "]";
}

TEST(PartLayout, DivideRoundHalfEven) {
  struct Case {
    int64_t numerator, denominator, expected;
  };
  const Case cases[] = {{1000002, 4, 250000},
                        {1000006, 4, 250002},
                        {995000, 4, 248750},
                        {5, 2, 2},
                        {7, 2, 4},
                        {1, 3, 0},
                        {2, 3, 1},
                        {-5, 2, -2},
                        {-7, 2, -4},
                        {10, -4, -2},
                        {0, 7, 0},
                        {INT64_MAX, 1, INT64_MAX}};
  for (const Case &c : cases)
    EXPECT_EQ(DivideRoundHalfEven(c.numerator, c.denominator), c.expected)
        << c.numerator << "/" << c.denominator;
}

TEST(PartLayout, FreshLayoutArithmetic) {
  struct Case {
    const char *what;
    int64_t fileSize, fetched;
    int32_t parts;
    int64_t smallestSplitSize;
    std::vector<Range> expected;
  };
  const Case cases[] = {
      {"worked example",
       1000000,
       5000,
       4,
       100,
       {{0, 253749}, {253750, 502499}, {502500, 751249}, {751250, 999999}}},
      {"halves round to even, last part takes the rest",
       1000002,
       0,
       4,
       100,
       {{0, 249999}, {250000, 499999}, {500000, 749999}, {750000, 1000001}}},
      {"not larger than the smallest split size", 102400, 0, 4, 100, {}},
      {"one byte larger", 102401, 0, 2, 100, {{0, 51199}, {51200, 102400}}},
      {"one part: the first slot's range ends at the file's end", 500000, 1234, 1, 100, {{0, 499999}}},
      {"no parts asked for counts as one", 500000, 0, 0, 100, {{0, 499999}}},
      {"negative parts count as one", 500000, 0, -3, 100, {{0, 499999}}},
      {"unknown size never splits", -1, 0, 4, 0, {}},
      {"no size yet never splits", 0, 0, 4, -1, {}},
      {"never more parts than bytes", 3, 0, 8, 0, {{0, 1}, {2, 2}}},
      {"rounding up would leave the last part empty", 6, 0, 4, 0, {{0, 1}, {2, 3}, {4, 5}}},
      {"size request already has everything", 4000, 4000, 4, 0, {{0, 3999}}},
      {"a first part ending at 0 would mean no end", 2, 0, 2, 0, {{0, 1}}},
      {"files past 4 GiB", 5'000'000'000, 0, 2, 100, {{0, 2'499'999'999}, {2'500'000'000, 4'999'999'999}}},
  };
  for (const Case &c : cases) {
    const auto plan = FreshLayout({"/p/T", c.fileSize, c.fetched, c.parts, c.smallestSplitSize});
    EXPECT_EQ(RangesOf(plan), c.expected) << c.what;
    for (std::size_t i = 0; i < plan.size(); ++i) {
      EXPECT_EQ(plan[i].PartFileName, "/p/T." + std::to_string(plan[i].StartByte)) << c.what;
      EXPECT_GE(plan[i].EndByte, plan[i].StartByte) << c.what << ": part " << i << " has a byte";
    }
  }
}

TEST(PartLayout, FreshLayoutFirstPartKeepsWhatIsFetched) {
  const auto plan = FreshLayout({"T", 1000000, 5000, 4, 100});
  ASSERT_EQ(plan.size(), 4u);
  EXPECT_EQ(plan[0].TransferCountCache, 5000);
  EXPECT_EQ(plan[1].TransferCountCache, 0);
  EXPECT_EQ(plan[0].PartFileName, "T.0");
}

class PartFilesTest : public ::testing::Test {
protected:
  std::string stem() const { return dir.file("AB12"); }
  void Part(const std::string &extension, int64_t size) {
    WriteWholeFile(stem() + "." + extension, std::string(static_cast<std::size_t>(size), 'p'));
  }
  TempDir dir;
};

TEST_F(PartFilesTest, ListingKeepsOnlyPartFilesInNumericOrder) {
  Part("10", 1);
  Part("0", 5);
  Part("9", 2);
  Part("dat", 3);
  Part("tmp", 3);
  Part("-5", 3);
  Part("007", 3);
  Part("1x", 3);
  Part("99999999999999999999999", 3);
  WriteWholeFile(dir.file("OTHER.0"), "x");
  std::filesystem::create_directory(stem() + ".20");
  ASSERT_EQ(::symlink("/etc/passwd", (stem() + ".30").c_str()), 0);

  const auto files = ListPartFiles(stem());
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0].Offset, 0);
  EXPECT_EQ(files[0].Size, 5);
  EXPECT_EQ(files[1].Offset, 9);
  EXPECT_EQ(files[2].Offset, 10);
  EXPECT_EQ(files[2].FileName, stem() + ".10");
}

TEST_F(PartFilesTest, RebuildFromPartFiles) {
  struct File {
    std::string extension;
    int64_t size;
  };
  struct Expected {
    Range range;
    int64_t onDisk;
    bool complete;
  };
  struct Case {
    const char *what;
    int64_t fileSize;
    std::vector<File> files;
    std::vector<Expected> parts;
  };
  const Case cases[] = {
      {"three parts of a 750000-byte file: partial, complete, empty",
       750000,
       {{"0", 300}, {"250000", 250000}, {"500000", 0}},
       {{{0, 249999}, 300, false}, {{250000, 499999}, 250000, true}, {{500000, 749999}, 0, false}}},
      {"every part complete",
       30,
       {{"0", 10}, {"10", 10}, {"20", 10}},
       {{{0, 9}, 10, true}, {{10, 19}, 10, true}, {{20, 29}, 10, true}}},
      {"numeric order of offsets",
       30,
       {{"0", 9}, {"10", 0}, {"9", 1}},
       {{{0, 8}, 9, true}, {{9, 9}, 1, true}, {{10, 29}, 0, false}}},
      {"first part's file missing: its range is fetched again, the others kept",
       300,
       {{"100", 50}, {"200", 100}},
       {{{0, 99}, 0, false}, {{100, 199}, 50, false}, {{200, 299}, 100, true}}},
      {"a part longer than its range is cut and complete",
       20,
       {{"0", 15}, {"10", 4}},
       {{{0, 9}, 10, true}, {{10, 19}, 4, false}}},
      {"a file past the end of the download is no part of it",
       20,
       {{"0", 3}, {"25", 1}},
       {{{0, 19}, 3, false}}},
      {"unknown size: the single part has no end", -1, {{"0", 300}}, {{{0, 0}, 300, false}}},
  };
  for (const Case &c : cases) {
    TempDir caseDir;
    const std::string caseStem = caseDir.file("AB12");
    for (const File &file : c.files)
      WriteWholeFile(caseStem + "." + file.extension, std::string(static_cast<std::size_t>(file.size), 'p'));
    const auto plan = RebuildLayout(caseStem, ListPartFiles(caseStem), c.fileSize);
    ASSERT_EQ(plan.size(), c.parts.size()) << c.what;
    for (std::size_t i = 0; i < plan.size(); ++i) {
      EXPECT_EQ((Range{plan[i].StartByte, plan[i].EndByte}), c.parts[i].range) << c.what << ": part " << i;
      EXPECT_EQ(plan[i].TransferCountCache, c.parts[i].onDisk) << c.what << ": part " << i;
      EXPECT_EQ(plan[i].Complete, c.parts[i].complete) << c.what << ": part " << i;
      EXPECT_EQ(plan[i].PartFileName, caseStem + "." + std::to_string(plan[i].StartByte)) << c.what;
      const auto size = PartFileSize(plan[i].PartFileName);
      if (plan[i].Complete) {
        EXPECT_EQ(size, plan[i].EndByte - plan[i].StartByte + 1) << c.what << ": complete parts fit exactly";
      }
    }
  }
}

TEST_F(PartFilesTest, AllPartsDoneFollowsTheChain) {
  struct Case {
    const char *what;
    int64_t fileSize;
    std::vector<std::pair<std::string, int64_t>> files;
    bool unsizedPartDone;
    bool expected;
  };
  const Case cases[] = {
      {"the worked example complete",
       1000000,
       {{"0", 253750}, {"253750", 248750}, {"502500", 248750}, {"751250", 248750}},
       false,
       true},
      {"one part still short",
       1000000,
       {{"0", 253750}, {"253750", 248750}, {"502500", 248000}, {"751250", 248750}},
       false,
       false},
      {"an empty part in the middle", 30, {{"0", 10}, {"10", 0}, {"20", 10}}, false, false},
      {"no part files at all", 30, {}, false, false},
      {"more bytes than the file has", 25, {{"0", 10}, {"10", 20}}, false, false},
      {"a single unsplit part", 77, {{"0", 77}}, false, true},
      {"unknown size after a clean end", -1, {{"0", 300}}, true, true},
      {"unknown size without a clean end", -1, {{"0", 300}}, false, false},
      {"an empty remote file that was fetched", 0, {{"0", 0}}, true, true},
      {"size not known and nothing fetched", 0, {}, true, false},
  };
  for (const Case &c : cases) {
    TempDir caseDir;
    const std::string caseStem = caseDir.file("T");
    for (const auto &[extension, size] : c.files)
      WriteWholeFile(PartFileName(caseStem, std::stoll(extension)),
                     std::string(static_cast<std::size_t>(size), 'p'));
    EXPECT_EQ(AllPartsDone(caseStem, c.fileSize, c.unsizedPartDone), c.expected) << c.what;
  }
}

TEST_F(PartFilesTest, AllPartsDoneIgnoresLinks) {
  WriteWholeFile(dir.file("elsewhere"), std::string(10, 'x'));
  ASSERT_EQ(::symlink(dir.file("elsewhere").c_str(), (stem() + ".0").c_str()), 0);
  EXPECT_FALSE(AllPartsDone(stem(), 10));
}

TEST_F(PartFilesTest, FitPartFile) {
  Part("0", 10);
  EXPECT_EQ(FitPartFile(stem() + ".0", 10), TPartFileFit::pffExact);
  EXPECT_EQ(FitPartFile(stem() + ".0", 12), TPartFileFit::pffTooShort);
  EXPECT_EQ(PartFileSize(stem() + ".0"), 10) << "never filled with zeros";
  EXPECT_EQ(FitPartFile(stem() + ".0", 4), TPartFileFit::pffCut);
  EXPECT_EQ(ReadWholeFile(stem() + ".0"), "pppp");
  EXPECT_EQ(FitPartFile(stem() + ".5", 4), TPartFileFit::pffMissing);
}

TEST_F(PartFilesTest, PartFilesNeverFollowLinks) {
  WriteWholeFile(dir.file("victim"), "keep");
  ASSERT_EQ(::symlink(dir.file("victim").c_str(), (stem() + ".0").c_str()), 0);
  std::string error;
  EXPECT_FALSE(TPartFile::Open(stem() + ".0", &error).IsOpen());
  EXPECT_NE(error.find(".0"), std::string::npos) << error;
  EXPECT_FALSE(CreatePartFile(stem() + ".0"));
  EXPECT_EQ(FitPartFile(stem() + ".0", 1), TPartFileFit::pffMissing);
  EXPECT_EQ(ReadWholeFile(dir.file("victim")), "keep");
}

TEST_F(PartFilesTest, NewPartFilesFollowTheUmask) {
  const mode_t old = ::umask(022);
  const bool created = CreatePartFile(stem() + ".0");
  ::umask(old);
  ASSERT_TRUE(created);
  EXPECT_EQ(std::filesystem::status(stem() + ".0").permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
                std::filesystem::perms::group_read | std::filesystem::perms::others_read);
}

TEST_F(PartFilesTest, WriteAtOffsetAndTruncate) {
  TPartFile file = TPartFile::Open(stem() + ".0");
  ASSERT_TRUE(file.IsOpen());
  EXPECT_TRUE(file.WriteAt(0, "hello"));
  EXPECT_TRUE(file.WriteAt(5, " world"));
  EXPECT_TRUE(file.WriteAt(0, "J"));
  EXPECT_EQ(file.Size(), 11);
  EXPECT_TRUE(file.Truncate(5));
  file.Close();
  EXPECT_EQ(ReadWholeFile(stem() + ".0"), "Jello");
  EXPECT_TRUE(DeletePartFile(stem() + ".0"));
  EXPECT_TRUE(DeletePartFile(stem() + ".0")) << "already gone counts as deleted";
}

} // namespace
