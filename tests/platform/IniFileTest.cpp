#include "platform/IniFile.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <stdexcept>

using velmora::platform::IniFile;
using velmora::testing::ReadWholeFile;
using velmora::testing::TempDir;
using velmora::testing::WriteWholeFile;
using namespace std::string_view_literals;

namespace {

struct ReadCase {
  const char *name;
  const char *text;
  const char *section;
  const char *key;
  const char *expected; // nullptr: no such value
};

class IniFileRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(IniFileRead, FindsValue) {
  const ReadCase &c = GetParam();
  const auto value = IniFile::FromText(c.text).value(c.section, c.key);
  if (c.expected == nullptr)
    EXPECT_FALSE(value.has_value()) << *value;
  else
    EXPECT_EQ(value.value_or("<missing>"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, IniFileRead,
    ::testing::Values(
        ReadCase{"Lf", "[Options]\nURL=http://h/f\n", "Options", "URL", "http://h/f"},
        ReadCase{"CrLf", "[Options]\r\nA=1\r\nB=2\r\n", "Options", "B", "2"},
        ReadCase{"CrOnly", "[Options]\rA=1\rB=2", "Options", "B", "2"},
        ReadCase{"MixedBreaksAndNoFinalBreak", "[Options]\r\nA=1\nB=2\rC=3", "Options", "C", "3"},
        ReadCase{"SectionCase", "[options]\nA=1\n", "OPTIONS", "A", "1"},
        ReadCase{"KeyCase", "[Options]\nFileSize=10\n", "Options", "FILESIZE", "10"},
        ReadCase{"ValueKeptExactly", "[Options]\nDescription= two  words \n", "Options", "Description",
                 " two  words "},
        ReadCase{"QuotesKept", "[Options]\nD=\"x\"\n", "Options", "D", "\"x\""},
        ReadCase{"BlanksAroundKeyAndHeader", "  [ Options ]\n\tKey \t=v\n", "Options", "Key", "v"},
        ReadCase{"EqualsInValue", "[Options]\nURL=http://h/?a=b\n", "Options", "URL", "http://h/?a=b"},
        ReadCase{"EmptyValue", "[Options]\nCategory=\n", "Options", "Category", ""},
        ReadCase{"FirstOfRepeatedKeyWins", "[Options]\nA=1\nA=2\n", "Options", "A", "1"},
        ReadCase{"RepeatedSectionJoins", "[Options]\nA=1\n[Other]\n[OPTIONS]\nB=2\n", "Options", "B", "2"},
        ReadCase{"ByteOrderMark", "\xEF\xBB\xBF[Options]\nA=1\n", "Options", "A", "1"},
        ReadCase{"CommentIsNoKey", "[Options]\n;A=1\n#B=2\n", "Options", "A", nullptr},
        ReadCase{"KeyBeforeAnySection", "A=1\n[Options]\n", "Options", "A", nullptr},
        ReadCase{"OtherSection", "[Other]\nA=1\n", "Options", "A", nullptr},
        ReadCase{"LineWithoutEquals", "[Options]\nA\n", "Options", "A", nullptr},
        ReadCase{"UnclosedHeaderIsNoSection", "[Options\nA=1\n", "Options", "A", nullptr},
        ReadCase{"Empty", "", "Options", "A", nullptr}),
    [](const auto &caseInfo) { return std::string(caseInfo.param.name); });

TEST(IniFile, RewritesKeepOrderOtherKeysAndComments) {
  IniFile file = IniFile::FromText("; kept\r\n[Options]\r\nURL=u\r\nStatus=Done\r\n\r\n[Other]\r\nX=1\r\n");
  file.writeString("options", "status", "Paused");
  file.writeString("Options", "FileSize", "42");
  file.writeString("New", "K", "v");
  EXPECT_EQ(file.toText(),
            "; kept\n[Options]\nURL=u\nStatus=Paused\nFileSize=42\n\n[Other]\nX=1\n[New]\nK=v\n");
  EXPECT_EQ(file.keyNames("OPTIONS"), (std::vector<std::string>{"URL", "Status", "FileSize"}));
  EXPECT_EQ(file.sectionNames(), (std::vector<std::string>{"Options", "Other", "New"}));
}

// A first line that itself begins with the mark's bytes survives any number of rewrites.
TEST(IniFile, ByteOrderMarkInsideTheFirstLineSurvivesRewrites) {
  const std::string mark = "\xEF\xBB\xBF";
  for (const std::string &text : {mark + mark + "kept\n[S]\nK=v\n", mark + "[S]\nK=v\n"}) {
    const std::string once = IniFile::FromText(text).toText();
    EXPECT_EQ(IniFile::FromText(once).toText(), once);
    EXPECT_EQ(IniFile::FromText(once).readString("S", "K", ""), "v");
  }
  EXPECT_EQ(IniFile::FromText(mark + mark + "kept\n").toText(), mark + mark + "kept\n");
}

TEST(IniFile, ValueCannotAddLines) {
  IniFile file;
  file.writeString("Options", "Description", "a\r\n[Evil]\nURL=x\0y"sv);
  const IniFile reread = IniFile::FromText(file.toText());
  EXPECT_FALSE(reread.sectionExists("Evil"));
  EXPECT_EQ(reread.value("Options", "Description"), "a  [Evil] URL=x y");
}

TEST(IniFile, RefusesNamesTheFormatCannotHold) {
  IniFile file;
  for (const char *key : {"", "a=b", "[x", ";x", "#x", " x", "a\nb"})
    EXPECT_THROW(file.writeString("Options", key, "v"), std::invalid_argument) << key;
  for (const char *section : {"a]b", "a\nb", " x"})
    EXPECT_THROW(file.writeString(section, "k", "v"), std::invalid_argument) << section;
}

TEST(IniFile, DeletesKeysAndSections) {
  IniFile file = IniFile::FromText("[A]\nx=1\ny=2\nX=3\n[B]\nz=1\n");
  file.deleteKey("a", "X");
  EXPECT_EQ(file.keyNames("A"), std::vector<std::string>{"y"});
  file.eraseSection("b");
  EXPECT_FALSE(file.sectionExists("B"));
  EXPECT_EQ(file.toText(), "[A]\ny=2\n");
}

TEST(IniFile, SaveAndLoadRoundTrip) {
  TempDir dir;
  IniFile file;
  file.writeString("Options", "LocalFileName", "/home/u/a b.zip ");
  file.writeString("Options", "FileSize", "3000000000");
  ASSERT_TRUE(file.save(dir.file("r.dat")));
  IniFile loaded;
  ASSERT_TRUE(loaded.load(dir.file("r.dat")));
  EXPECT_EQ(loaded.toText(), file.toText());
  EXPECT_EQ(loaded.readString("Options", "LocalFileName", ""), "/home/u/a b.zip ");
}

TEST(IniFile, MissingFileLoadsEmptyButUnreadableFileFails) {
  TempDir dir;
  IniFile file = IniFile::FromText("[A]\nx=1\n");
  EXPECT_TRUE(file.load(dir.file("missing.dat")));
  EXPECT_TRUE(file.sectionNames().empty());
  auto result = file.load(dir.path().string()); // a folder
  EXPECT_FALSE(result);
  EXPECT_NE(result.error.find(dir.path().string()), std::string::npos);
}

TEST(IniFile, FailedSaveLeavesOldFile) {
  TempDir dir;
  WriteWholeFile(dir.file("r.dat"), "[Options]\nA=old\n");
  IniFile file;
  file.writeString("Options", "A", "new");
  const auto result = file.save(dir.file("no-such-folder/r.dat"));
  EXPECT_FALSE(result);
  EXPECT_FALSE(result.error.empty());
  EXPECT_EQ(ReadWholeFile(dir.file("r.dat")), "[Options]\nA=old\n");
}

} // namespace
