#include "unzip/EntryExtraction.h"

#include "unzip/BitReader.h"
#include "unzip/CoveredSpans.h"
#include "unzip/DosTime.h"
#include "unzip/EntrySource.h"
#include "unzip/Explode.h"
#include "unzip/ExtractionClaim.h"
#include "unzip/Inflate.h"
#include "unzip/LittleEndian.h"
#include "unzip/OutputWindow.h"
#include "unzip/TargetFolder.h"
#include "unzip/Unshrink.h"
#include "unzip/ZipReader.h"

#include <sys/stat.h>

namespace velmora {

namespace {

constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr size_t kLocalHeaderSize = 30;
constexpr uint8_t kHostUnix = 3;

bool IsSupportedMethod(uint16_t method) {
  return method == zmStored || method == zmShrunk || method == zmImploded || method == zmDeflated;
}

// Unix archives carry the permission bits; set-id and sticky bits are never taken over. The
// process's umask applies, as for any new file.
mode_t ModeFor(const TZipDirEntry &entry) {
  mode_t stored = static_cast<mode_t>(entry.ExternalAttributes >> 16);
  if (entry.HostSystem == kHostUnix && (stored & S_IFMT) == S_IFREG && (stored & 0777) != 0)
    return stored & 0777;
  return 0666;
}

// Stored data goes straight from the source into the output blocks.
void CopyStored(IByteSource &source, TOutputWindow &output) {
  for (;;) {
    size_t got = source.Read(output.pos, static_cast<size_t>(output.fastLimit - output.pos));
    if (got == 0)
      break;
    output.pos += got;
    if (output.pos >= output.fastLimit)
      output.Flush();
  }
}

} // namespace

void DecompressEntryData(uint16_t method, uint16_t flags, IByteSource &source, TOutputWindow &output) {
  if (method == zmStored) {
    CopyStored(source, output);
    return;
  }
  TBitReader input(source);
  try {
    switch (method) {
    case zmShrunk:
      Unshrink(input, output);
      break;
    case zmImploded:
      Explode(input, output, flags);
      break;
    case zmDeflated:
      TInflate().Run(input, output);
      break;
    default:
      throw EUnzipError(uzrUnsupportedMethod);
    }
  } catch (const EUnzipError &failure) {
    // Nonsense decoded from the zeros past the end means the data ended early.
    if (failure.Code == uzrCrcMismatch)
      input.CheckNotOverrun();
    throw;
  }
}

int32_t ExtractEntryTo(const TZipArchive &archive, const TZipDirEntry &entry, int folder,
                       const std::string &fileName, const TExtractOptions &options,
                       unzip::TCoveredSpans *covered) {
  TExtractionClaim claim;
  if (!claim.Held())
    return uzrBusy;
  if (entry.NeedsZip64)
    return uzrZip64;
  uint8_t local[kLocalHeaderSize];
  if (!archive.ReadAt(entry.HeaderOffset, local, kLocalHeaderSize) || Le32(local) != kLocalSignature)
    return uzrBadLocalHeader;
  if (!IsSupportedMethod(entry.Method))
    return uzrUnsupportedMethod;
  if (((entry.Flags | Le16(local + 6)) & zfEncrypted) != 0)
    return uzrEncrypted;
  uint64_t dataOffset = entry.HeaderOffset + kLocalHeaderSize + Le16(local + 26) + Le16(local + 28);
  if (covered != nullptr && !covered->Claim(entry.HeaderOffset, dataOffset + entry.CompressedSize))
    return uzrOverlapped;
  if (fileName.empty())
    return uzrDone;

  if (dataOffset > archive.FileSize() || archive.FileSize() - dataOffset < entry.CompressedSize)
    return uzrReadError;

  TPendingFile pending;
  if (int32_t created = pending.Create(folder, fileName, ModeFor(entry)); created != uzrDone)
    return created;
  try {
    TEntrySource source(archive.Descriptor(), dataOffset, entry.CompressedSize, options.Cancel,
                        [&](int percent) {
                          claim.Touch();
                          if (options.OnProgress)
                            options.OnProgress(percent);
                        });
    TOutputWindow output(pending, entry.UncompressedSize);
    DecompressEntryData(entry.Method, entry.Flags, source, output);
    if (output.Finish() != entry.Crc32)
      return uzrCrcMismatch;
  } catch (const EUnzipError &failure) {
    return failure.Code;
  }
  int64_t modified =
      entry.UnixModificationTime >= 0 ? entry.UnixModificationTime : DosDateTimeToUnix(entry.DateTime);
  return pending.Commit(modified);
}

} // namespace velmora
