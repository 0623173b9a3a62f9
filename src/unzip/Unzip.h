#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace velmora {

// What the caller may add to an extraction.
struct TExtractOptions {
  // Set (from any thread, or from OnProgress) to stop: the partial file is deleted and the
  // extraction ends with uzrCancelled (ExtractEntry) or uzrGivenUp (ExtractAllEntries).
  const std::atomic<bool> *Cancel = nullptr;
  // Called before each input block with the current entry's progress in percent: the caller's
  // chance to keep its windows responsive.
  std::function<void(int percent)> OnProgress;
};

struct TEntryFailure {
  std::string Name;
  int32_t Code = 0;
};

// The outcome of extracting an archive, for callers that must say whether it worked.
struct TExtractReport {
  // What ExtractAllEntries returns: the number of entries extracted, or a negative code.
  int32_t Result = 0;
  uint32_t Extracted = 0;
  // Every entry that was refused or failed, in archive order; the walk goes on past refused
  // names and stops at the first other failure.
  std::vector<TEntryFailure> Failures;

  bool Succeeded() const { return Result >= 0 && Failures.empty(); }
  // Empty on success, else one line for the user.
  std::string ErrorText() const;
};

// True when the file name contains "." but not ".exe" (letter case counts), the path is not a
// folder, and the file begins with "PK" 3 4.
bool IsZipFile(const std::string &name);

// "NOTAZIPFILE" when IsZipFile is false; else the stored name of the first entry at the archive
// root whose name, lower-cased, is "setup.exe" or "install.exe"; else empty.
std::string FindSetupProgram(const std::string &name);

// Extracts the entries whose names match mask ("*.*" = all) below folder; existing files are
// replaced. Returns the number extracted, or a negative TUnzipResult.
int32_t ExtractAllEntries(const std::string &archive, const std::string &folder, const std::string &mask,
                          const TExtractOptions &options = {});

// Extracts the entry whose local header is at headerOffset to the file target (a target ending
// in "/" makes a folder). Returns uzrDone or a negative TUnzipResult.
int32_t ExtractEntry(const std::string &archive, const std::string &target, uint64_t headerOffset,
                     const TExtractOptions &options = {});

// ExtractAllEntries with the full account of what happened: the call for front ends that must
// report success or failure (the terminal's --extract, the download-complete dialog).
TExtractReport ExtractArchive(const std::string &archive, const std::string &folder,
                              const std::string &mask = "*.*", const TExtractOptions &options = {});

// "Extract and install": extracts into a new private folder (mode 0700, a fresh name below the
// temporary folder) and names the setup program found there.
struct TInstallExtraction {
  TExtractReport Report;
  std::string Folder;       // empty when the folder could not be made
  std::string SetupProgram; // full path of the extracted setup program, or empty
};
TInstallExtraction ExtractForInstall(const std::string &archive, const TExtractOptions &options = {});

// A short English text for a result code.
std::string DescribeUnzipResult(int32_t code);

} // namespace velmora
