#include "unzip/Unzip.h"
#include "unzip/ZipTypes.h"

#include "ZipTestSupport.h"
#include "support/TempDir.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>

namespace velmora {

using testing::FilesBelow;
using testing::RunCommand;
using testing::ShellQuote;
using testing::TempDir;
using testing::WriteWholeFile;

namespace {

// Writes an archive with python3's zipfile into an unseekable stream, so every entry carries a
// data descriptor; the script gets the source folder and the archive name.
constexpr const char *kPythonWriter = R"(
import io, os, sys, zipfile
source, archive, method, level = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
class Unseekable(io.RawIOBase):
    def __init__(self): self.data = bytearray()
    def writable(self): return True
    def write(self, b): self.data += b; return len(b)
out = Unseekable()
with zipfile.ZipFile(out, 'w', method, compresslevel=level) as z:
    for root, dirs, files in sorted(os.walk(source)):
        for name in sorted(files):
            path = os.path.join(root, name)
            with open(path, 'rb') as f:
                z.writestr(os.path.relpath(path, source), f.read())
open(archive, 'wb').write(out.data)
)";

// Only the names: the contents are too big to print.
std::string Names(const std::vector<std::pair<std::string, std::string>> &files) {
  std::string names;
  for (const auto &file : files)
    names += file.first + " (" + std::to_string(file.second.size()) + ") ";
  return names;
}

struct TToolCase {
  const char *what;
  // Runs in the source folder; $A is the archive to write. Empty files go where a tool cannot.
  std::string command;
  bool withFolders; // the tool writes folder entries too
};

class ToolArchives : public ::testing::Test {
protected:
  void SetUp() override {
    std::mt19937 random(5);
    std::string noise(70000, '\0');
    for (char &c : noise)
      c = static_cast<char>(random());
    std::string repeated;
    while (repeated.size() < 200000)
      repeated += noise.substr(0, 32768); // matches exactly 32768 bytes back
    std::filesystem::create_directories(source.path() / "docs" / "deeper");
    std::filesystem::create_directories(source.path() / "empty folder");
    std::filesystem::create_directories(source.path() / "src");
    std::filesystem::create_directories(source.path() / "bin");
    // Names without a dot are extracted by "*.*" like every other.
    files = {{"a", "a"},
             {"README", "read me\n"},
             {"LICENSE", "licence\n"},
             {"src/Makefile", "all:\n"},
             {"bin/tool", "#!/bin/sh\n"},
             {"docs/readme.txt", "Velmora reads zip archives.\n"},
             {"docs/deeper/gr\xC3\xBC\xC3\x9F"
              "e \xE6\x97\xA5\xE6\x9C\xAC.txt",
              "UTF-8 name\n"},
             {"empty.txt", ""},
             {"noise.bin", noise},
             {"repeated.bin", repeated}};
    for (const auto &[name, content] : files)
      WriteWholeFile(source.path() / name, content);
    std::sort(files.begin(), files.end());
    pythonScript = scratch.file("writer.py");
    WriteWholeFile(pythonScript, kPythonWriter);
  }

  void ExpectExtractsExactly(const TToolCase &c) {
    std::string archive = scratch.file(std::string(c.what) + ".zip");
    std::string command = "cd " + ShellQuote(source.path().string()) + " && A=" + ShellQuote(archive) +
                          " && " + "{ " + c.command + "; } >/dev/null 2>&1";
    ASSERT_EQ(RunCommand(command), 0) << c.what << ": " << command;
    TempDir target;
    TExtractReport report = ExtractArchive(archive, target.path().string());
    EXPECT_TRUE(report.Succeeded()) << c.what << ": " << report.ErrorText();
    EXPECT_TRUE(FilesBelow(target.path()) == files)
        << c.what << ": extracted " << Names(FilesBelow(target.path()));
    if (c.withFolders) {
      EXPECT_TRUE(std::filesystem::is_directory(target.path() / "empty folder")) << c.what;
    }
  }

  TempDir source;
  TempDir scratch;
  std::string pythonScript;
  std::vector<std::pair<std::string, std::string>> files;
};

} // namespace

TEST_F(ToolArchives, ExtractWhatIndependentArchiversWrite) {
  std::string python = "/usr/bin/python3 " + ShellQuote(pythonScript) + " . \"$A\" ";
  const TToolCase cases[] = {
      {"zip stored", "zip -0 -r \"$A\" .", true},
      {"zip deflate", "zip -r \"$A\" .", true},
      {"zip deflate best", "zip -9 -r \"$A\" .", true},
      {"zip fastest", "zip -1 -r -D \"$A\" .", false},
      {"zip through a pipe", "zip -r - . | cat > \"$A\"", true},
      {"python stored with descriptors", python + "0 0", false},
      {"python deflate level 0", python + "8 0", false},
      {"python deflate", python + "8 9", false},
      {"7z deflate", "7z a -tzip -mm=Deflate -mx=9 \"$A\" .", true},
  };
  for (const TToolCase &c : cases)
    ExpectExtractsExactly(c);
}

// Real encrypted and bzip2 entries: the entries before them are extracted, the walk stops there.
TEST_F(ToolArchives, RefusesEncryptedAndBzip2Entries) {
  struct TCase {
    const char *what;
    std::string command;
    int32_t failure;
  };
  const TCase cases[] = {
      {"zip -P", "zip -q \"$A\" a && zip -q -P secret \"$A\" docs/readme.txt", uzrEncrypted},
      {"7z bzip2", "zip -q \"$A\" a && 7z a -tzip -mm=BZip2 \"$A\" repeated.bin", uzrUnsupportedMethod},
  };
  for (const TCase &c : cases) {
    std::string archive = scratch.file(std::string(c.what) + ".zip");
    ASSERT_EQ(RunCommand("cd " + ShellQuote(source.path().string()) + " && A=" + ShellQuote(archive) +
                         " && { " + c.command + "; } >/dev/null 2>&1"),
              0)
        << c.what;
    TempDir target;
    TExtractReport report = ExtractArchive(archive, target.path().string());
    EXPECT_EQ(report.Result, 1) << c.what;
    ASSERT_EQ(report.Failures.size(), 1u) << c.what;
    EXPECT_EQ(report.Failures[0].Code, c.failure) << c.what;
    EXPECT_EQ(FilesBelow(target.path()), (std::vector<std::pair<std::string, std::string>>{{"a", "a"}}))
        << c.what;
  }
}

// Info-ZIP's zip keeps the exact modification time and the permission bits; both come back.
TEST_F(ToolArchives, KeepsModificationTimesAndPermissions) {
  ASSERT_EQ(RunCommand("cd " + ShellQuote(source.path().string()) +
                       " && touch -d '2001-02-03 04:05:06' docs/readme.txt && chmod 0750 noise.bin"),
            0);
  std::string archive = scratch.file("dated.zip");
  ASSERT_EQ(
      RunCommand("cd " + ShellQuote(source.path().string()) + " && zip -q -r " + ShellQuote(archive) + " ."),
      0);
  TempDir target;
  ASSERT_TRUE(ExtractArchive(archive, target.path().string()).Succeeded());
  struct stat original {
  }, extracted{};
  ASSERT_EQ(::stat((source.path() / "docs/readme.txt").c_str(), &original), 0);
  ASSERT_EQ(::stat((target.path() / "docs/readme.txt").c_str(), &extracted), 0);
  EXPECT_EQ(extracted.st_mtime, original.st_mtime);
  ASSERT_EQ(::stat((target.path() / "noise.bin").c_str(), &extracted), 0);
  mode_t mask = ::umask(0);
  ::umask(mask);
  EXPECT_EQ(extracted.st_mode & 0777, 0750u & ~mask);
}

} // namespace velmora
