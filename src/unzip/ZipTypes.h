#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace velmora {

// Results of the extraction operations: 0 (or a count of entries) on success, else one of these.
enum TUnzipResult : int32_t {
  uzrDone = 0,
  uzrCrcMismatch = -1, // the output does not check: CRC-32, size, or damaged compressed data
  uzrCannotWrite = -2,
  uzrReadError = -3, // archive unreadable, or its data ends early
  uzrBadLocalHeader = -4,
  uzrCancelled = -5,
  uzrUnsupportedMethod = -6,
  uzrEncrypted = -7,
  uzrBusy = -8,
  uzrNoCentralDirectory = -9,
  uzrNoMoreEntries = -10,
  uzrNoEndRecord = -11,
  uzrNotZipFile = -12,
  uzrZip64 = -13,       // needs ZIP64 or spans several disks: refused rather than misread
  uzrUnsafeName = -14,  // the name would reach outside the target folder
  uzrNameTooLong = -15, // longer than the file system allows; never cut to another name
  uzrOverlapped = -16,  // shares bytes with an entry extracted before: a zip bomb
  uzrGivenUp = -100,
  uzrMissingName = -500,
};

// Compression methods this reader decompresses.
enum TZipMethod : uint16_t {
  zmStored = 0,
  zmShrunk = 1,
  zmImploded = 6,
  zmDeflated = 8,
};

// Bits of the general-purpose flags that matter here.
enum TZipFlag : uint16_t {
  zfEncrypted = 0x0001,
  zfImplode8KDictionary = 0x0002,
  zfImplodeThreeTrees = 0x0004,
  zfDataDescriptor = 0x0008,
  zfUtf8Name = 0x0800,
};

// One entry of the central directory, as the reader returns it. Sizes and the CRC come from
// here, never from the local header or a data descriptor.
struct TZipDirEntry {
  uint64_t UncompressedSize = 0;
  uint64_t CompressedSize = 0;
  uint8_t Attributes = 0; // low byte of the external attributes when made on DOS/Windows, else 0
  uint8_t HostSystem = 0;
  uint32_t ExternalAttributes = 0;
  uint32_t DateTime = 0;             // DOS format: time in the low word, date in the high word
  int64_t UnixModificationTime = -1; // from the extended-timestamp extra field, when present
  uint64_t HeaderOffset = 0;
  uint16_t Method = 0;
  uint16_t Flags = 0;
  uint32_t Crc32 = 0;
  bool NeedsZip64 = false; // a size or the offset is saturated: only a ZIP64 field holds it
  std::string Name;        // "/"-separated as stored; UTF-8 (CP437 names are converted)
};

// Thrown inside the decompressors and the reader; the public operations turn it into its code.
class EUnzipError : public std::runtime_error {
public:
  explicit EUnzipError(int32_t code) : std::runtime_error("unzip error"), Code(code) {}
  int32_t Code;
};

} // namespace velmora
