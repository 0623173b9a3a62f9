#pragma once

#include "unzip/FileDescriptor.h"
#include "unzip/ZipTypes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace velmora {

// Reads the structure of a zip archive: finds the end-of-central-directory record and walks the
// central directory one entry at a time, reading it in pieces of at most 64000 bytes.
class TZipArchive {
public:
  // Opens the archive: uzrDone, uzrNoEndRecord (unopenable or no end record),
  // uzrNoCentralDirectory, or uzrZip64 (needs ZIP64 or spans several disks).
  int32_t Open(const std::string &path);

  // Fills the next entry: uzrDone, or uzrNoMoreEntries at the end or at a malformed entry.
  int32_t Next(TZipDirEntry &entry);
  void Rewind() { next_ = directoryStart_; }

  int Descriptor() const { return file_.Get(); }
  uint64_t FileSize() const { return fileSize_; }

  // Reads exactly size bytes at offset; false on a read error or the end of the file.
  bool ReadAt(uint64_t offset, uint8_t *buffer, size_t size) const;

private:
  int32_t FindEndRecord();
  bool Buffer(uint64_t offset, size_t size);

  TFileDescriptor file_;
  uint64_t fileSize_ = 0;
  uint64_t directoryStart_ = 0;
  uint64_t directoryEnd_ = 0; // where the end record starts
  uint32_t entryCount_ = 0;
  uint64_t next_ = 0;
  std::vector<uint8_t> buffer_;
  uint64_t bufferOffset_ = 0;
};

} // namespace velmora
