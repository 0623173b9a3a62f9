#include "unzip/ZipReader.h"

#include "unzip/EntryName.h"
#include "unzip/LittleEndian.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>

namespace velmora {

namespace {

constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kMaxCommentSize = 65535;
constexpr size_t kDirectoryPiece = 64000;
constexpr uint32_t kSaturated32 = 0xFFFFFFFF;
constexpr uint16_t kExtendedTimestampTag = 0x5455;
constexpr uint8_t kHostDos = 0;

// The extended timestamp of the central directory carries the modification time only.
int64_t FindUnixModificationTime(const uint8_t *extra, size_t size) {
  size_t at = 0;
  while (at + 4 <= size) {
    uint16_t tag = Le16(extra + at);
    uint16_t length = Le16(extra + at + 2);
    if (at + 4 + length > size)
      break;
    if (tag == kExtendedTimestampTag && length >= 5 && (extra[at + 4] & 1) != 0)
      return static_cast<int32_t>(Le32(extra + at + 5));
    at += 4 + size_t{length};
  }
  return -1;
}

} // namespace

bool TZipArchive::ReadAt(uint64_t offset, uint8_t *buffer, size_t size) const {
  while (size > 0) {
    ssize_t got = ::pread(file_.Get(), buffer, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      return false;
    buffer += got;
    size -= static_cast<size_t>(got);
    offset += static_cast<uint64_t>(got);
  }
  return true;
}

int32_t TZipArchive::Open(const std::string &path) {
  file_ = TFileDescriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat info {};
  if (!file_.Valid() || ::fstat(file_.Get(), &info) != 0 || !S_ISREG(info.st_mode))
    return uzrNoEndRecord;
  fileSize_ = static_cast<uint64_t>(info.st_size);
  return FindEndRecord();
}

// The record lies within the last 22 + 65535 bytes. A record whose comment runs exactly to the
// end of the file is preferred, so a signature inside a comment is not taken for the record; a
// record followed by stray bytes is accepted next when its directory checks.
int32_t TZipArchive::FindEndRecord() {
  if (fileSize_ < kEndRecordSize)
    return uzrNoEndRecord;
  size_t tail = static_cast<size_t>(std::min<uint64_t>(fileSize_, kEndRecordSize + kMaxCommentSize));
  std::vector<uint8_t> window(tail);
  uint64_t windowStart = fileSize_ - tail;
  if (!ReadAt(windowStart, window.data(), tail))
    return uzrNoEndRecord;

  auto directorySignatureAt = [&](uint64_t offset) {
    uint8_t signature[4];
    return offset + 4 <= fileSize_ && ReadAt(offset, signature, 4) && Le32(signature) == kCentralSignature;
  };
  for (int pass = 0; pass < 2; ++pass) {
    for (size_t at = tail - kEndRecordSize + 1; at-- > 0;) {
      const uint8_t *record = window.data() + at;
      if (Le32(record) != kEndSignature)
        continue;
      uint64_t recordOffset = windowStart + at;
      uint64_t commentEnd = recordOffset + kEndRecordSize + Le16(record + 20);
      uint16_t entries = Le16(record + 10);
      uint32_t directoryOffset = Le32(record + 16);
      bool exact = commentEnd == fileSize_;
      if (pass == 0 ? !exact
                    : (commentEnd > fileSize_ || entries == 0 || !directorySignatureAt(directoryOffset)))
        continue;

      // Only a saturated field makes the ZIP64 record necessary; archives that carry one needlessly
      // are read by their 32-bit fields. Disk numbers other than 0 mean a split archive.
      bool saturated = Le16(record + 8) == 0xFFFF || entries == 0xFFFF || Le32(record + 12) == kSaturated32 ||
                       directoryOffset == kSaturated32;
      if (saturated || Le16(record + 4) != 0 || Le16(record + 6) != 0)
        return uzrZip64;
      directoryStart_ = directoryOffset;
      directoryEnd_ = recordOffset;
      entryCount_ = entries;
      next_ = directoryStart_;
      if (entryCount_ > 0 &&
          (directoryStart_ > directoryEnd_ || directoryEnd_ - directoryStart_ < kCentralHeaderSize))
        return uzrNoCentralDirectory;
      return uzrDone;
    }
  }
  return uzrNoEndRecord;
}

bool TZipArchive::Buffer(uint64_t offset, size_t size) {
  if (offset + size > directoryEnd_)
    return false;
  if (offset >= bufferOffset_ && offset + size <= bufferOffset_ + buffer_.size())
    return true;
  size_t piece =
      static_cast<size_t>(std::min<uint64_t>(std::max(size, kDirectoryPiece), directoryEnd_ - offset));
  buffer_.resize(piece);
  bufferOffset_ = offset;
  if (!ReadAt(offset, buffer_.data(), piece)) {
    buffer_.clear();
    return false;
  }
  return true;
}

int32_t TZipArchive::Next(TZipDirEntry &entry) {
  if (entryCount_ == 0 || !Buffer(next_, kCentralHeaderSize))
    return uzrNoMoreEntries;
  const uint8_t *header = buffer_.data() + (next_ - bufferOffset_);
  if (Le32(header) != kCentralSignature)
    return uzrNoMoreEntries;
  size_t nameLength = Le16(header + 28);
  size_t extraLength = Le16(header + 30);
  size_t commentLength = Le16(header + 32);
  size_t whole = kCentralHeaderSize + nameLength + extraLength + commentLength;
  if (!Buffer(next_, whole))
    return uzrNoMoreEntries;
  header = buffer_.data() + (next_ - bufferOffset_);

  entry = TZipDirEntry{};
  entry.HostSystem = header[5];
  entry.Flags = Le16(header + 8);
  entry.Method = Le16(header + 10);
  entry.DateTime = Le32(header + 12);
  entry.Crc32 = Le32(header + 16);
  uint32_t compressed = Le32(header + 20);
  uint32_t uncompressed = Le32(header + 24);
  uint32_t offset = Le32(header + 42);
  entry.CompressedSize = compressed;
  entry.UncompressedSize = uncompressed;
  entry.HeaderOffset = offset;
  entry.NeedsZip64 = compressed == kSaturated32 || uncompressed == kSaturated32 || offset == kSaturated32;
  entry.ExternalAttributes = Le32(header + 38);
  entry.Attributes = entry.HostSystem == kHostDos ? static_cast<uint8_t>(entry.ExternalAttributes & 0xFF) : 0;
  const char *name = reinterpret_cast<const char *>(header + kCentralHeaderSize);
  entry.Name = DecodeEntryName(std::string_view(name, nameLength), (entry.Flags & zfUtf8Name) != 0);
  entry.UnixModificationTime =
      FindUnixModificationTime(header + kCentralHeaderSize + nameLength, extraLength);
  next_ += whole;
  return uzrDone;
}

} // namespace velmora
