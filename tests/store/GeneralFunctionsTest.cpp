#include "store/GeneralFunctions.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <strings.h>

using namespace velmora;
using namespace std::string_view_literals;
using velmora::platform::SettingsDatabase;
using velmora::testing::TempDir;
using velmora::testing::WriteWholeFile;

namespace {

TEST(GeneralFunctions, BytesToPresentableString) {
  const struct {
    int64_t n;
    const char *point;
    const char *comma;
  } cases[] = {
      {-1, "Unbekannt", "Unbekannt"},
      {0, "0 B", "0 B"},
      {-5, "-5 B", "-5 B"},
      {1024, "1024 B", "1024 B"},
      {1025, "1 kB", "1 kB"},
      {1536, "2 kB", "2 kB"},
      {2560, "2 kB", "2 kB"},
      {3584, "4 kB", "4 kB"},
      {1048576, "1024 kB", "1024 kB"},
      {1048577, "1.00 MB", "1,00 MB"},
      {1572864, "1.50 MB", "1,50 MB"},
      {1053818, "1.00 MB", "1,00 MB"}, // 1.004999...: below the half
      {1053819, "1.01 MB", "1,01 MB"}, // 1.005000... rounds up
      {1073741824, "1024.00 MB", "1024,00 MB"},
      {1073741825, "1.00 GB", "1,00 GB"},
      {1207959552, "1.13 GB", "1,13 GB"}, // exactly 1.125: halves go away from zero
      {5368709120, "5.00 GB", "5,00 GB"},
      {INT64_C(107374182400000000), "100000000.00 GB", "100000000,00 GB"},
      {INT64_C(1073741824000000000), "1000000000.00 GB", "1000000000,00 GB"}, // ten digits: no decimals left
      {INT64_MAX, "8589934592.00 GB", "8589934592,00 GB"},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(BytesToPresentableString(c.n, "Unbekannt", "."), c.point) << c.n;
    EXPECT_EQ(BytesToPresentableString(c.n, "Unbekannt", ","), c.comma) << c.n;
  }
}

TEST(GeneralFunctions, DecimalSeparatorFollowsTheLocale) {
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  ASSERT_NE(std::setlocale(LC_NUMERIC, "C"), nullptr);
  EXPECT_EQ(DecimalSeparator(), ".");
  EXPECT_EQ(BytesToPresentableString(-1, TConstants()), "Unknown");
  EXPECT_EQ(BytesToPresentableString(1048577, TConstants()), "1.00 MB");
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(GeneralFunctions, SecondsToTimeStringAndBack) {
  const std::pair<int64_t, const char *> formatted[] = {
      {-1, "Number out of range"},
      {0, "00:00:00"},
      {59, "00:00:59"},
      {3661, "01:01:01"},
      {3723, "01:02:03"},
      {359999, "99:59:59"},
      {360000, "100:00:00"},
      {INT64_C(3600) * 12345, "12345:00:00"},
  };
  for (const auto &[seconds, text] : formatted)
    EXPECT_EQ(SecondsToTimeString(seconds), text) << seconds;

  const std::pair<const char *, int32_t> read[] = {
      {"01:02:03", 3723}, {"00:00:59", 59}, {"99:59:59", 359999},    {"N/A", 0}, {"100:00:00", 0}, {"", 0},
      {"1:02:03", 0},     {"01:02:0x", 0},  {"01:02:03 left", 3723},
  };
  for (const auto &[text, seconds] : read)
    EXPECT_EQ(TimeStringToSeconds(text), seconds) << text;
}

TEST(GeneralFunctions, TextHelpers) {
  EXPECT_EQ(DecodeSpaces("my%20file%20name.zip"), "my file name.zip");
  EXPECT_EQ(DecodeSpaces("%2520%20%"), "%2520 %");
  EXPECT_EQ(DecodeSpaces("a%41b"), "a%41b");

  const std::pair<const char *, bool> numeric[] = {
      {"ab12.0", true}, {"ab12.123456", true}, {"ab12.dat", false}, {"ab12.", true},
      {"123", true},    {"ab", false},         {"a.1.2", false},    {"", true},
  };
  for (const auto &[name, expected] : numeric)
    EXPECT_EQ(IsNumericExtension(name), expected) << name;

  std::vector<std::string> lines{"kept"};
  LoadMemoFromMemoryStream(lines, "1.41\r\nhttp://x/\n\nlast\rwith\0cut\r\nend"sv);
  EXPECT_EQ(lines, (std::vector<std::string>{"kept", "1.41", "http://x/", "", "last", "with", "end"}));
  lines.clear();
  LoadMemoFromMemoryStream(lines, "a\r\n");
  EXPECT_EQ(lines, std::vector<std::string>{"a"});
}

class WithSettings : public ::testing::Test {
protected:
  std::unique_ptr<SettingsDatabase> database = SettingsDatabase::OpenInMemory();
  TSettingsStore settings{*database};
};

TEST_F(WithSettings, GetDateFolderName) {
  using namespace std::chrono;
  const year_month_day march5{year(2004), month(3), day(5)};
  EXPECT_EQ(GetDateFolderName(settings, march5), "03-05-2004");
  settings.WriteString("Options", "Date1", "Year");
  settings.WriteString("Options", "DateDivider1", "none");
  settings.WriteString("Options", "Date2", "Month");
  settings.WriteString("Options", "DateDivider2", "none");
  settings.WriteString("Options", "Date3", "Day");
  EXPECT_EQ(GetDateFolderName(settings, march5), "20040305");
  settings.WriteString("Options", "DateDivider1", "_");
  settings.WriteString("Options", "Date2", "Week");
  EXPECT_EQ(GetDateFolderName(settings, year_month_day{year(987), month(12), day(31)}), "0987_31");
  EXPECT_EQ(GetDateFolderName(settings, year_month_day{year(2004), month(2), day(30)}), "Invalid Date!");
}

TEST_F(WithSettings, ValidExtension) {
  settings.WriteString(
      "Options", "Extensions",
      "exe arj rar lzh z gz gzip zip tar bin mp3 avi mpg mpeg qt plj asf mov wma wmv r0* r1* "
      "a0* a1* tif tiff ogg");
  const std::pair<const char *, bool> cases[] = {
      {"zip", true}, {"ZIP", true},   {"r0", true},  {"r00", true},   {"r09", true}, {"r0x", true},
      {"r2", false}, {"html", false}, {"zi", false}, {"zipx", false}, {"", false},   {"tar.gz", false},
  };
  for (const auto &[ext, expected] : cases)
    EXPECT_EQ(ValidExtension(ext, settings), expected) << ext;

  settings.WriteString("Options", "Extensions", "ZIP  r?[0-4] [!a-m]x [ab");
  const std::pair<const char *, bool> masks[] = {
      {"zip", true}, {"", true},    {"r14", true}, {"r15", false},
      {"nx", true},  {"ax", false}, {"[ab", true}, {"b", false},
  };
  for (const auto &[ext, expected] : masks)
    EXPECT_EQ(ValidExtension(ext, settings), expected) << ext;
}

TEST(GeneralFunctions, MatchesMaskHandlesStarsWithoutBlowingUp) {
  EXPECT_TRUE(MatchesMask("abcabcabc", "*abc"));
  EXPECT_TRUE(MatchesMask("a", "*"));
  EXPECT_FALSE(MatchesMask("aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*a*a*a*a*a*a*c"));
}

TEST(GeneralFunctions, GetUniqueFileName) {
  TempDir dir;
  const std::string report = dir.file("report.pdf");
  const auto noRecords = [](const std::string &) { return false; };
  EXPECT_EQ(GetUniqueFileName(report, noRecords), report);

  WriteWholeFile(report, "x");
  EXPECT_EQ(GetUniqueFileName(report, noRecords), dir.file("report(1).pdf"));
  WriteWholeFile(dir.file("report(1).pdf"), "x");
  EXPECT_EQ(GetUniqueFileName(report, noRecords), dir.file("report(2).pdf"));

  // A record in other letter case holds the name as well; so does a record on a numbered name.
  const std::string upper = dir.file("REPORT(2).PDF");
  const auto records = [&](const std::string &name) { return strcasecmp(name.c_str(), upper.c_str()) == 0; };
  EXPECT_EQ(GetUniqueFileName(report, records), dir.file("report(3).pdf"));
  EXPECT_EQ(GetUniqueFileName(dir.file("fresh.zip"),
                              [&](const std::string &name) { return name == dir.file("fresh.zip"); }),
            dir.file("fresh(1).zip"));

  std::filesystem::create_directory(dir.path() / "v1.2");
  WriteWholeFile(dir.path() / "v1.2" / "README", "x");
  EXPECT_EQ(GetUniqueFileName(dir.file("v1.2/README"), noRecords), dir.file("v1.2/README(1)"));
  std::filesystem::create_symlink(dir.file("nowhere"), dir.file("dangling"));
  EXPECT_EQ(GetUniqueFileName(dir.file("dangling"), noRecords), dir.file("dangling(1)"));
}

} // namespace
