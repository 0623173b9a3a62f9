#include "unzip/Unzip.h"
#include "unzip/ZipTypes.h"

#include "ZipTestSupport.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <random>
#include <unistd.h>

namespace velmora {

using testing::BuildArchive;
using testing::FilesBelow;
using testing::ReadWholeFile;
using testing::StoredEntry;
using testing::TCraftedEntry;
using testing::TempDir;
using testing::WriteWholeFile;

namespace {

TCraftedEntry DeflatedEntry(const std::string &name, const std::string &data) {
  TCraftedEntry entry = StoredEntry(name, data);
  entry.Method = zmDeflated;
  entry.Data = testing::ZlibDeflate(data);
  return entry;
}

std::string Text(size_t size) {
  std::string text;
  for (size_t i = 0; text.size() < size; ++i)
    text += "line " + std::to_string(i) + " of a text that compresses\n";
  text.resize(size);
  return text;
}

struct THostileCase {
  const char *what;
  std::string archive;
  int32_t result;
  std::vector<std::pair<std::string, std::string>> files; // exactly what the target folder holds
  std::vector<int32_t> failures;                          // the codes of the failed entries
};

// Points the central directory entry number index at another local header offset.
void SetDirectoryOffset(std::string &archive, size_t index, uint32_t offset) {
  size_t at = archive.find("PK\1\2");
  for (size_t i = 0; i < index; ++i)
    at = archive.find("PK\1\2", at + 4);
  for (int i = 0; i < 4; ++i)
    archive[at + 42 + static_cast<size_t>(i)] = static_cast<char>(offset >> (8 * i));
}

// Thirty directory entries, names of one length, all pointing at the first entry's stream.
std::string FullOverlapBomb() {
  std::vector<TCraftedEntry> entries;
  for (int i = 0; i < 30; ++i)
    entries.push_back(DeflatedEntry("bomb" + std::to_string(10 + i) + ".bin", std::string(1 << 20, '\0')));
  std::string archive = BuildArchive(entries);
  for (size_t i = 1; i < entries.size(); ++i)
    SetDirectoryOffset(archive, i, 0);
  return archive;
}

// The second entry's local header and data lie inside the first entry's stored data.
std::string QuotedOverlapBomb(const std::string &inner) {
  std::string quoted = BuildArchive({StoredEntry("in.txt", inner)});
  quoted.resize(30 + 6 + inner.size()); // its local header and data only
  std::string archive = BuildArchive({StoredEntry("outer.bin", quoted), StoredEntry("in.txt", inner)});
  SetDirectoryOffset(archive, 1, 30 + 9);
  return archive;
}

std::vector<int32_t> FailureCodes(const TExtractReport &report) {
  std::vector<int32_t> codes;
  for (const TEntryFailure &failure : report.Failures)
    codes.push_back(failure.Code);
  return codes;
}

} // namespace

// Damaged, unsupported and hostile archives: the result, what lands in the target folder
// (nothing partial, nothing outside), and what the caller is told.
TEST(HostileArchives, FailSafelyAndSayWhy) {
  const std::string good = "good entry\n";
  TCraftedEntry flipped = DeflatedEntry("flipped.txt", Text(20000));
  flipped.Data[flipped.Data.size() / 2] ^= 0x10;
  TCraftedEntry wrongCrc = StoredEntry("wrong-crc.txt", "some bytes");
  wrongCrc.Crc ^= 1;
  TCraftedEntry bomb = DeflatedEntry("bomb.bin", std::string(20 << 20, '\0'));
  bomb.UncompressedSize = 1000;
  TCraftedEntry storedBomb = StoredEntry("stored-bomb.bin", std::string(5000, 'b'));
  storedBomb.UncompressedSize = 100;
  TCraftedEntry shortOutput = DeflatedEntry("short.txt", Text(3000));
  shortOutput.UncompressedSize = 4000;
  TCraftedEntry truncatedData = DeflatedEntry("truncated.txt", Text(50000));
  truncatedData.Data.resize(truncatedData.Data.size() / 2);
  TCraftedEntry encrypted = StoredEntry("secret.txt", "encrypted bytes");
  encrypted.Flags = zfEncrypted;
  TCraftedEntry bzip2 = StoredEntry("bzip2.bin", "BZh9");
  bzip2.Method = 12;
  TCraftedEntry zip64 = StoredEntry("huge.bin", "ZIP64 sizes");
  zip64.SaturateSizes = true;

  std::string wholeArchive = BuildArchive({StoredEntry("a.txt", good)});
  std::string quotedBomb = QuotedOverlapBomb(good);
  std::string zip64Archive = wholeArchive;
  zip64Archive.replace(zip64Archive.size() - 6, 4, "\xFF\xFF\xFF\xFF"); // directory offset

  const THostileCase cases[] = {
      {"flipped byte in deflated data",
       BuildArchive({StoredEntry("first.txt", good), flipped, StoredEntry("after.txt", good)}),
       1,
       {{"first.txt", good}},
       {uzrCrcMismatch}},
      {"stored CRC differs", BuildArchive({wrongCrc}), 0, {}, {uzrCrcMismatch}},
      {"zip bomb", BuildArchive({bomb}), 0, {}, {uzrCrcMismatch}},
      {"stored data longer than declared", BuildArchive({storedBomb}), 0, {}, {uzrCrcMismatch}},
      {"output shorter than declared", BuildArchive({shortOutput}), 0, {}, {uzrCrcMismatch}},
      {"deflated data cut short",
       BuildArchive({StoredEntry("first.txt", good), truncatedData}),
       uzrGivenUp,
       {{"first.txt", good}},
       {uzrReadError}},
      {"truncated archive", wholeArchive.substr(0, wholeArchive.size() - 10), uzrNoEndRecord, {}, {}},
      {"comment holding the end record signature",
       BuildArchive({StoredEntry("a.txt", good)}, std::string("PK\5\6", 4) + std::string(30, '\0')),
       1,
       {{"a.txt", good}},
       {}},
      {"encrypted entry",
       BuildArchive({StoredEntry("a.txt", good), encrypted, StoredEntry("b.txt", good)}),
       1,
       {{"a.txt", good}},
       {uzrEncrypted}},
      {"bzip2 entry",
       BuildArchive({StoredEntry("a.txt", good), bzip2}),
       1,
       {{"a.txt", good}},
       {uzrUnsupportedMethod}},
      {"ZIP64 entry", BuildArchive({zip64}), 0, {}, {uzrZip64}},
      {"ZIP64 archive", zip64Archive, uzrZip64, {}, {}},
      {"names reaching outside",
       BuildArchive({StoredEntry("../evil.txt", "x"), StoredEntry("/tmp/abs.txt", "x"),
                     StoredEntry("a/../../evil.txt", "x"), StoredEntry("C:/evil.txt", "x"),
                     StoredEntry("dir\\evil.txt", "x"), StoredEntry(std::string("nul\0.txt", 8), "x"),
                     StoredEntry("./inside/ok.txt", good)}),
       1,
       {{"inside/ok.txt", good}},
       {uzrUnsafeName, uzrUnsafeName, uzrUnsafeName, uzrUnsafeName, uzrUnsafeName, uzrUnsafeName}},
      {"directory entries sharing one stream",
       FullOverlapBomb(),
       1,
       {{"bomb10.bin", std::string(1 << 20, '\0')}},
       {uzrOverlapped}},
      {"entry quoted inside another's data",
       quotedBomb,
       1,
       {{"outer.bin", quotedBomb.substr(30 + 9, 30 + 6 + good.size())}},
       {uzrOverlapped}},
      {"zero-length entries side by side",
       BuildArchive({StoredEntry("empty1", ""), StoredEntry("dir/", ""), StoredEntry("empty2", "")}),
       3,
       {{"empty1", ""}, {"empty2", ""}},
       {}},
      {"name too long",
       BuildArchive({StoredEntry(std::string(300, 'n'), "x"),
                     StoredEntry("dir/" + std::string(256, 'd') + "/f", "x"), StoredEntry("ok.txt", good)}),
       1,
       {{"ok.txt", good}},
       {uzrNameTooLong, uzrNameTooLong}},
  };
  for (const THostileCase &c : cases) {
    TempDir scratch;
    std::string archive = scratch.file("case.zip");
    WriteWholeFile(archive, c.archive);
    std::filesystem::create_directory(scratch.path() / "target");
    TExtractReport report = ExtractArchive(archive, (scratch.path() / "target").string());
    EXPECT_EQ(report.Result, c.result) << c.what;
    EXPECT_EQ(FailureCodes(report), c.failures) << c.what;
    EXPECT_EQ(FilesBelow(scratch.path() / "target"), c.files) << c.what;
    EXPECT_EQ(FilesBelow(scratch.path()).size(), c.files.size() + 1)
        << c.what << ": something outside the target";
    EXPECT_EQ(report.Succeeded(), report.ErrorText().empty()) << c.what;
    EXPECT_EQ(report.Succeeded(), c.failures.empty() && c.result >= 0) << c.what;
  }
}

// Entries whose folder is a symbolic link planted in the target, or whose own name is one:
// nothing is written through the link.
TEST(HostileArchives, NeverWritesThroughSymbolicLinks) {
  TempDir scratch;
  std::filesystem::create_directories(scratch.path() / "target");
  std::filesystem::create_directories(scratch.path() / "outside");
  WriteWholeFile(scratch.path() / "outside" / "victim", "precious");
  std::filesystem::create_directory_symlink(scratch.path() / "outside", scratch.path() / "target" / "link");
  std::filesystem::create_symlink(scratch.path() / "outside" / "victim",
                                  scratch.path() / "target" / "victim");
  std::string archive = scratch.file("links.zip");

  WriteWholeFile(archive, BuildArchive({StoredEntry("victim", "replaced")}));
  TExtractReport replaced = ExtractArchive(archive, (scratch.path() / "target").string());
  EXPECT_EQ(replaced.Result, 1);
  EXPECT_FALSE(std::filesystem::is_symlink(scratch.path() / "target" / "victim"));
  EXPECT_EQ(ReadWholeFile(scratch.path() / "target" / "victim"), "replaced");

  WriteWholeFile(archive, BuildArchive({StoredEntry("link/victim", "through the link")}));
  TExtractReport through = ExtractArchive(archive, (scratch.path() / "target").string());
  EXPECT_EQ(through.Result, 0);
  ASSERT_EQ(through.Failures.size(), 1u);
  EXPECT_EQ(through.Failures[0].Code, uzrCannotWrite);
  EXPECT_EQ(ReadWholeFile(scratch.path() / "outside" / "victim"), "precious");
}

// A file that fails to extract leaves an older file of the same name as it was.
TEST(HostileArchives, FailedEntryKeepsTheOlderFile) {
  TempDir scratch;
  WriteWholeFile(scratch.path() / "same.txt", "older contents");
  TCraftedEntry damaged = StoredEntry("same.txt", "newer contents");
  damaged.Crc ^= 0x80;
  std::string archive = scratch.file("damaged.zip");
  WriteWholeFile(archive, BuildArchive({damaged}));
  EXPECT_EQ(ExtractAllEntries(archive, scratch.path().string(), "*.*"), 0);
  EXPECT_EQ(ReadWholeFile(scratch.path() / "same.txt"), "older contents");
  EXPECT_EQ(FilesBelow(scratch.path()).size(), 2u);
}

} // namespace velmora
