#pragma once

#include "unzip/FileDescriptor.h"
#include "unzip/OutputWindow.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace velmora {

// An entry name taken apart into the folders and the file it makes below the target folder.
struct TEntryPath {
  std::vector<std::string> Folders;
  std::string FileName; // empty for a folder entry
};

// uzrDone, uzrUnsafeName (absolute, "..", a drive letter, a backslash or a NUL byte: anything
// that could reach outside the target folder) or uzrNameTooLong (a part longer than nameMax, or
// the whole longer than a path may be). Empty and "." parts are dropped.
int32_t SplitEntryName(const std::string &name, size_t nameMax, TEntryPath &path);

// Opens the folder below parent, creating missing levels one at a time with mkdirat and never
// following a symbolic link; invalid on failure.
TFileDescriptor OpenFolderBelow(int parent, const std::vector<std::string> &folders);

// The longest name a part of a path may have in the folder.
size_t NameMaxOf(int folder);

// An output file written under a private temporary name beside its final name, so that a
// failure never leaves a partial file, nor destroys an older file of that name; only Commit gives
// it its name. Dropped (deleted) unless committed.
class TPendingFile : public IByteSink {
public:
  TPendingFile() = default;
  ~TPendingFile() override;
  TPendingFile(const TPendingFile &) = delete;
  TPendingFile &operator=(const TPendingFile &) = delete;

  // uzrDone or uzrCannotWrite.
  int32_t Create(int folder, const std::string &name, mode_t mode);
  void Write(const uint8_t *data, size_t size) override;
  // Sets the modification time (when not -1), closes and renames into place: uzrDone or
  // uzrCannotWrite.
  int32_t Commit(int64_t modificationTime);

private:
  int folder_ = -1;
  std::string name_;
  std::string temporaryName_;
  TFileDescriptor file_;
};

} // namespace velmora
