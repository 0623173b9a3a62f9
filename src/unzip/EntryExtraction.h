#pragma once

#include "unzip/Unzip.h"
#include "unzip/ZipTypes.h"

#include <string>

namespace velmora {

class IByteSource;
class TOutputWindow;
class TZipArchive;
namespace unzip {
class TCoveredSpans;
}

// Decompresses one entry's data with its method; throws EUnzipError.
void DecompressEntryData(uint16_t method, uint16_t flags, IByteSource &source, TOutputWindow &output);

// Extracts one entry into fileName inside the open folder (an empty fileName: a folder entry,
// whose folders the caller has made). Returns uzrDone or a negative TUnzipResult; on failure
// nothing is left under fileName and an older file of that name is untouched. With covered, an
// entry whose header or data overlaps an entry extracted before is refused (uzrOverlapped).
int32_t ExtractEntryTo(const TZipArchive &archive, const TZipDirEntry &entry, int folder,
                       const std::string &fileName, const TExtractOptions &options,
                       unzip::TCoveredSpans *covered = nullptr);

} // namespace velmora
