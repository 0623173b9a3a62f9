#include "unzip/Unzip.h"
#include "unzip/ZipTypes.h"

#include "ZipTestSupport.h"
#include "support/TempDir.h"

#include <ctime>
#include <gtest/gtest.h>
#include <random>
#include <stdlib.h>
#include <sys/stat.h>

namespace velmora {

using testing::BuildArchive;
using testing::FilesBelow;
using testing::ReadWholeFile;
using testing::StoredEntry;
using testing::TCraftedEntry;
using testing::TempDir;
using testing::WriteWholeFile;

namespace {

std::string Noise(size_t size) {
  std::mt19937 random(3);
  std::string data(size, '\0');
  for (char &c : data)
    c = static_cast<char>(random());
  return data;
}

TCraftedEntry Deflated(const std::string &name, const std::string &data) {
  TCraftedEntry entry = StoredEntry(name, data);
  entry.Method = zmDeflated;
  entry.Data = testing::ZlibDeflate(data);
  return entry;
}

} // namespace

TEST(UnzipApi, IsZipFileLooksAtTheNameAndTheSignature) {
  TempDir dir;
  std::string zip = BuildArchive({StoredEntry("a", "a")});
  struct TCase {
    const char *name;
    std::string contents;
    bool expected;
  };
  const TCase cases[] = {
      {"archive.zip", zip, true},
      {"setup.exe.zip", zip, false},
      {"SETUP.EXE.zip", zip, true}, // letter case counts
      {"no-dot", zip, false},
      {"text.zip", "not an archive", false},
      {"empty-archive.zip", std::string("PK\5\6", 4) + std::string(18, '\0'), false},
  };
  for (const TCase &c : cases) {
    WriteWholeFile(dir.path() / c.name, c.contents);
    EXPECT_EQ(IsZipFile(dir.file(c.name)), c.expected) << c.name;
  }
  std::filesystem::create_directories(dir.path() / "folder.zip");
  EXPECT_FALSE(IsZipFile(dir.file("folder.zip")));
  EXPECT_FALSE(IsZipFile(dir.file("missing.zip")));
  // A dot in a folder of the path does not make a name without one look like an archive.
  std::filesystem::create_directories(dir.path() / "downloads.d");
  WriteWholeFile(dir.path() / "downloads.d" / "archive", zip);
  EXPECT_FALSE(IsZipFile(dir.file("downloads.d/archive")));
}

TEST(UnzipApi, FindSetupProgramTakesTheFirstAtTheRoot) {
  TempDir dir;
  struct TCase {
    const char *file;
    std::vector<std::string> entries;
    std::string expected;
  };
  const TCase cases[] = {
      {"root.zip", {"readme.txt", "Setup.EXE", "install.exe"}, "Setup.EXE"},
      {"install.zip", {"INSTALL.exe"}, "INSTALL.exe"},
      {"nested.zip", {"disk1/setup.exe", "setup.exe.txt"}, ""},
      {"setup.exe.zip", {"setup.exe"}, "NOTAZIPFILE"},
  };
  for (const TCase &c : cases) {
    std::vector<TCraftedEntry> entries;
    for (const std::string &name : c.entries)
      entries.push_back(StoredEntry(name, "MZ"));
    WriteWholeFile(dir.path() / c.file, BuildArchive(entries));
    EXPECT_EQ(FindSetupProgram(dir.file(c.file)), c.expected) << c.file;
  }
}

TEST(UnzipApi, ExtractAllEntriesChecksItsArgumentsAndTheMask) {
  TempDir dir;
  std::string archive = dir.file("mixed.zip");
  WriteWholeFile(archive, BuildArchive({StoredEntry("a.txt", "a"), StoredEntry("b.bin", "b"),
                                        StoredEntry("docs/", ""), StoredEntry("docs/c.TXT", "c")}));
  EXPECT_EQ(ExtractAllEntries("", dir.file("out"), "*.*"), uzrMissingName);
  EXPECT_EQ(ExtractAllEntries(archive, "", "*.*"), uzrMissingName);
  WriteWholeFile(dir.path() / "plain.zip", "plain text");
  EXPECT_EQ(ExtractAllEntries(dir.file("plain.zip"), dir.file("out"), "*.*"), uzrNotZipFile);

  EXPECT_EQ(ExtractAllEntries(archive, dir.file("some"), "*.txt"), 2);
  EXPECT_EQ(FilesBelow(dir.path() / "some"),
            (std::vector<std::pair<std::string, std::string>>{{"a.txt", "a"}, {"docs/c.TXT", "c"}}));
  // Every entry, the folder entry included; the target folder is made when missing.
  EXPECT_EQ(ExtractAllEntries(archive, dir.file("all/of/it"), "*.*"), 4);
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "all/of/it/docs"));
}

TEST(UnzipApi, ExtractEntryWritesOneEntryByItsHeaderOffset) {
  TempDir dir;
  std::string first = "first entry";
  std::string archive = dir.file("two.zip");
  WriteWholeFile(archive, BuildArchive({StoredEntry("one.txt", first), Deflated("two.txt", "second entry")}));
  uint64_t secondOffset = 30 + 7 + first.size();
  EXPECT_EQ(ExtractEntry(archive, dir.file("made/here/2.txt"), secondOffset), uzrDone);
  EXPECT_EQ(ReadWholeFile(dir.path() / "made/here/2.txt"), "second entry");
  EXPECT_EQ(ExtractEntry(archive, dir.file("folder/"), 0), uzrDone);
  EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "folder"));
  EXPECT_EQ(ExtractEntry(archive, dir.file("x"), 5), uzrBadLocalHeader);
  EXPECT_EQ(ExtractEntry(dir.file("missing.zip"), dir.file("x"), 0), uzrReadError);
}

// Names without the UTF-8 flag that are not valid UTF-8 are DOS code page 437.
TEST(UnzipApi, ReadsOldNamesAsCodePage437) {
  TempDir dir;
  WriteWholeFile(dir.path() / "dos.zip",
                 BuildArchive({StoredEntry("M\x84RCHEN.TXT", "dos"), StoredEntry("gr\xC3\xBC\xC3\x9F"
                                                                                 "e.txt",
                                                                                 "utf8")}));
  EXPECT_EQ(ExtractAllEntries(dir.file("dos.zip"), dir.file("out"), "*.*"), 2);
  EXPECT_EQ(ReadWholeFile(dir.path() / "out" / "M\xC3\xA4RCHEN.TXT"), "dos");
  EXPECT_EQ(ReadWholeFile(dir.path() / "out" /
                          "gr\xC3\xBC\xC3\x9F"
                          "e.txt"),
            "utf8");
}

TEST(UnzipApi, EntriesKeepTheirDosDate) {
  TempDir dir;
  TCraftedEntry entry = StoredEntry("dated.txt", "dated");
  // 2001-02-03 04:05:06 local time.
  entry.DosDateTime = uint32_t{((2001 - 1980) << 9) | (2 << 5) | 3} << 16 | (4 << 11) | (5 << 5) | 3;
  WriteWholeFile(dir.path() / "dated.zip", BuildArchive({entry}));
  ASSERT_EQ(ExtractAllEntries(dir.file("dated.zip"), dir.file("out"), "*.*"), 1);
  struct tm fields {};
  fields.tm_year = 101;
  fields.tm_mon = 1;
  fields.tm_mday = 3;
  fields.tm_hour = 4;
  fields.tm_min = 5;
  fields.tm_sec = 6;
  fields.tm_isdst = -1;
  struct stat info {};
  ASSERT_EQ(::stat(dir.file("out/dated.txt").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, ::mktime(&fields));
}

// The cancel flag set during a long entry: the partial file goes, and the walk gives up.
TEST(UnzipApi, CancelDeletesThePartialFile) {
  TempDir dir;
  std::string archive = dir.file("long.zip");
  WriteWholeFile(archive,
                 BuildArchive({StoredEntry("small.txt", "small"), Deflated("long.bin", Noise(3 << 20))}));
  std::atomic<bool> cancel{false};
  int calls = 0;
  TExtractOptions options;
  options.Cancel = &cancel;
  options.OnProgress = [&](int percent) {
    if (percent > 0)
      cancel = true;
    ++calls;
  };
  TExtractReport report = ExtractArchive(archive, dir.file("out"), "*.*", options);
  EXPECT_EQ(report.Result, uzrGivenUp);
  ASSERT_EQ(report.Failures.size(), 1u);
  EXPECT_EQ(report.Failures[0].Code, uzrCancelled);
  EXPECT_GT(calls, 2);
  EXPECT_EQ(FilesBelow(dir.path() / "out"),
            (std::vector<std::pair<std::string, std::string>>{{"small.txt", "small"}}));
  cancel = false;
  options.OnProgress = [&](int) { cancel = true; };
  EXPECT_EQ(ExtractEntry(archive, dir.file("one.bin"), 30 + 9 + 5, options), uzrCancelled);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "one.bin"));
}

// An extraction started while another runs (from the handler it lets run) is refused.
TEST(UnzipApi, SecondExtractionDuringTheFirstIsRefused) {
  TempDir dir;
  std::string archive = dir.file("one.zip");
  WriteWholeFile(archive, BuildArchive({StoredEntry("a.txt", "a")}));
  int32_t nested = 1;
  TExtractOptions options;
  options.OnProgress = [&](int) { nested = ExtractEntry(archive, dir.file("nested.txt"), 0); };
  EXPECT_EQ(ExtractAllEntries(archive, dir.file("out"), "*.*", options), 1);
  EXPECT_EQ(nested, uzrBusy);
  EXPECT_EQ(ExtractEntry(archive, dir.file("later.txt"), 0), uzrDone);
}

TEST(UnzipApi, ExtractForInstallUsesAPrivateNewFolder) {
  TempDir dir;
  ASSERT_EQ(::setenv("TMPDIR", dir.path().c_str(), 1), 0);
  std::string archive = dir.file("package.zip");
  WriteWholeFile(archive,
                 BuildArchive({StoredEntry("readme.txt", "read me"), StoredEntry("setup.exe", "MZ")}));
  TInstallExtraction first = ExtractForInstall(archive);
  TInstallExtraction second = ExtractForInstall(archive);
  ::unsetenv("TMPDIR");
  ASSERT_FALSE(first.Folder.empty());
  EXPECT_NE(first.Folder, second.Folder);
  EXPECT_EQ(std::filesystem::path(first.Folder).parent_path(), dir.path());
  struct stat info {};
  ASSERT_EQ(::stat(first.Folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_TRUE(first.Report.Succeeded());
  EXPECT_EQ(first.Report.Extracted, 2u);
  EXPECT_EQ(first.SetupProgram, first.Folder + "/setup.exe");
}

} // namespace velmora
