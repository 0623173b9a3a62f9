#include "unzip/Unzip.h"

#include "shell/ReportError.h"
#include "unzip/CoveredSpans.h"
#include "unzip/EntryExtraction.h"
#include "unzip/NameMask.h"
#include "unzip/TargetFolder.h"
#include "unzip/ZipReader.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {

std::string BaseName(const std::string &path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// A failure after which the walk ends with the count so far; any other ends it with uzrGivenUp.
bool EndsWithCount(int32_t code) {
  return code == uzrCrcMismatch || code == uzrCannotWrite || code == uzrUnsupportedMethod ||
         code == uzrEncrypted || code == uzrNoMoreEntries || code == uzrZip64 || code == uzrOverlapped;
}

// The target folder is the user's choice, so it is made like mkdir -p; only what lies below it
// comes from the archive and is made without following links.
TFileDescriptor OpenTargetFolder(const std::string &folder) {
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  return TFileDescriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

TExtractReport ExtractArchiveBody(const std::string &archivePath, const std::string &folder,
                                  const std::string &mask, const TExtractOptions &options) {
  TExtractReport report;
  if (archivePath.empty() || folder.empty()) {
    report.Result = uzrMissingName;
    return report;
  }
  if (!IsZipFile(archivePath)) {
    report.Result = uzrNotZipFile;
    return report;
  }
  TZipArchive archive;
  if (int32_t opened = archive.Open(archivePath); opened != uzrDone) {
    report.Result = opened;
    return report;
  }
  TFileDescriptor target = OpenTargetFolder(folder);
  if (!target.Valid()) {
    report.Result = uzrCannotWrite;
    return report;
  }
  const size_t nameMax = NameMaxOf(target.Get());

  unzip::TCoveredSpans covered;
  TZipDirEntry entry;
  while (archive.Next(entry) == uzrDone) {
    if (!unzip::MatchesMask(entry.Name, mask))
      continue;
    TEntryPath path;
    if (int32_t split = SplitEntryName(entry.Name, nameMax, path); split != uzrDone) {
      report.Failures.push_back({entry.Name, split});
      continue;
    }
    TFileDescriptor entryFolder = OpenFolderBelow(target.Get(), path.Folders);
    int32_t code = entryFolder.Valid()
                       ? ExtractEntryTo(archive, entry, entryFolder.Get(), path.FileName, options, &covered)
                       : uzrCannotWrite;
    if (code == uzrDone) {
      ++report.Extracted;
      continue;
    }
    report.Failures.push_back({entry.Name, code});
    report.Result = EndsWithCount(code) ? static_cast<int32_t>(report.Extracted) : uzrGivenUp;
    return report;
  }
  report.Result = static_cast<int32_t>(report.Extracted);
  return report;
}

int32_t ExtractEntryBody(const std::string &archivePath, const std::string &target, uint64_t headerOffset,
                         const TExtractOptions &options) {
  if (target.empty())
    return uzrCannotWrite;
  TZipArchive archive;
  if (archive.Open(archivePath) != uzrDone)
    return uzrReadError;
  TZipDirEntry entry;
  bool found = false;
  while (!found && archive.Next(entry) == uzrDone)
    found = entry.HeaderOffset == headerOffset;
  if (!found)
    return uzrBadLocalHeader; // no entry of the archive has its header there

  bool isFolder = target.back() == '/';
  std::string folder = isFolder ? target : target.substr(0, target.find_last_of('/') + 1);
  TFileDescriptor parent = OpenTargetFolder(folder.empty() ? "." : folder);
  if (!parent.Valid())
    return uzrCannotWrite;
  return ExtractEntryTo(archive, entry, parent.Get(), isFolder ? std::string() : BaseName(target), options);
}

std::string TemporaryFolderRoot() {
  const char *tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

} // namespace

bool IsZipFile(const std::string &name) {
  return Guarded("function IsZipFile", [&] {
    std::string base = BaseName(name);
    if (base.find('.') == std::string::npos || base.find(".exe") != std::string::npos)
      return false;
    TFileDescriptor file(::open(name.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!file.Valid() || ::fstat(file.Get(), &info) != 0 || S_ISDIR(info.st_mode))
      return false;
    char signature[4];
    return ::pread(file.Get(), signature, 4, 0) == 4 &&
           std::string_view(signature, 4) == std::string_view("PK\3\4", 4);
  });
}

std::string FindSetupProgram(const std::string &name) {
  return Guarded("function FindSetupProgram", [&] {
    if (!IsZipFile(name))
      return std::string("NOTAZIPFILE");
    TZipArchive archive;
    if (archive.Open(name) != uzrDone)
      return std::string();
    TZipDirEntry entry;
    while (archive.Next(entry) == uzrDone) {
      std::string lowered = Lowered(entry.Name);
      if (lowered == "setup.exe" || lowered == "install.exe")
        return entry.Name;
    }
    return std::string();
  });
}

TExtractReport ExtractArchive(const std::string &archive, const std::string &folder, const std::string &mask,
                              const TExtractOptions &options) {
  TExtractReport failed;
  failed.Result = uzrGivenUp;
  return Guarded(
      "function ExtractAllEntries", [&] { return ExtractArchiveBody(archive, folder, mask, options); },
      failed);
}

int32_t ExtractAllEntries(const std::string &archive, const std::string &folder, const std::string &mask,
                          const TExtractOptions &options) {
  return ExtractArchive(archive, folder, mask, options).Result;
}

int32_t ExtractEntry(const std::string &archive, const std::string &target, uint64_t headerOffset,
                     const TExtractOptions &options) {
  return Guarded(
      "function ExtractEntry", [&] { return ExtractEntryBody(archive, target, headerOffset, options); },
      int32_t{uzrReadError});
}

TInstallExtraction ExtractForInstall(const std::string &archive, const TExtractOptions &options) {
  return Guarded("function ExtractForInstall", [&] {
    TInstallExtraction result;
    std::string pattern = TemporaryFolderRoot() + "/velmora-install-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      result.Report.Result = uzrCannotWrite;
      return result;
    }
    result.Folder = pattern;
    result.Report = ExtractArchive(archive, result.Folder, "*.*", options);
    std::string setup = FindSetupProgram(archive);
    if (result.Report.Result > 0 && !setup.empty() && setup != "NOTAZIPFILE" &&
        ::access((result.Folder + "/" + setup).c_str(), F_OK) == 0)
      result.SetupProgram = result.Folder + "/" + setup;
    return result;
  });
}

std::string DescribeUnzipResult(int32_t code) {
  if (code >= 0)
    return "Done";
  switch (code) {
  case uzrCrcMismatch:
    return "The extracted data does not match the archive (damaged archive)";
  case uzrCannotWrite:
    return "An output file cannot be created or written";
  case uzrReadError:
    return "The archive cannot be read, or its data ends early";
  case uzrBadLocalHeader:
    return "An entry's local header is unreadable";
  case uzrCancelled:
    return "Stopped by the user";
  case uzrUnsupportedMethod:
    return "An entry uses a compression method that is not supported";
  case uzrEncrypted:
    return "An entry is encrypted";
  case uzrBusy:
    return "Another extraction is running";
  case uzrNoCentralDirectory:
    return "The archive has no room for a central directory";
  case uzrNoMoreEntries:
    return "The central directory is damaged";
  case uzrNoEndRecord:
    return "The archive cannot be opened, or has no end of central directory record";
  case uzrNotZipFile:
    return "Not a zip archive";
  case uzrZip64:
    return "ZIP64 and split archives are not supported";
  case uzrUnsafeName:
    return "An entry's name points outside the target folder; it was skipped";
  case uzrNameTooLong:
    return "An entry's name is longer than the file system allows; it was skipped";
  case uzrOverlapped:
    return "An entry's data overlaps another entry's (a zip bomb or a damaged archive); extraction stopped";
  case uzrGivenUp:
    return "Extraction given up";
  case uzrMissingName:
    return "Archive name or folder missing";
  default:
    return "Extraction failed (" + std::to_string(code) + ")";
  }
}

std::string TExtractReport::ErrorText() const {
  if (Result < 0 && Failures.empty())
    return DescribeUnzipResult(Result);
  if (Failures.empty())
    return std::string();
  const TEntryFailure &first = Failures.front();
  std::string text = first.Name + ": " + DescribeUnzipResult(first.Code);
  if (Failures.size() > 1)
    text += " (and " + std::to_string(Failures.size() - 1) + " more)";
  return text;
}

} // namespace velmora
