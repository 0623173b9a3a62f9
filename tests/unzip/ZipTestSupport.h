#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace velmora::testing {

// One entry of a hand-made archive; the data is written as given (already compressed).
struct TCraftedEntry {
  std::string Name;
  std::string Data;
  uint16_t Method = 0;
  uint16_t Flags = 0;
  uint32_t Crc = 0;
  uint64_t UncompressedSize = 0;
  uint32_t DosDateTime = 0x21210000; // 1996-09-01 00:00
  uint8_t Host = 0;
  uint32_t ExternalAttributes = 0;
  bool SaturateSizes = false; // write 0xFFFFFFFF sizes as a ZIP64 archiver would
};

// A stored entry with its CRC and size filled in.
TCraftedEntry StoredEntry(const std::string &name, const std::string &data);

// Builds an archive from entries, with an optional archive comment.
std::string BuildArchive(const std::vector<TCraftedEntry> &entries, const std::string &comment = "");

// Raw deflate of data by zlib (the test oracle).
std::string ZlibDeflate(const std::string &data, int level = 6, int strategy = 0);
uint32_t ZlibCrc(const std::string &data);

// Runs a shell command; returns its exit status.
int RunCommand(const std::string &command);
std::string Sha256OfFile(const std::filesystem::path &path);
std::string ShellQuote(const std::string &text);

// Where the zip fixtures of this repository live.
std::filesystem::path UnzipDataDir();

// Every regular file below root, relative, with its content.
std::vector<std::pair<std::string, std::string>> FilesBelow(const std::filesystem::path &root);

} // namespace velmora::testing

namespace velmora::testing {

// The outcome of decompressing in memory: the result code (0 when the data checked) and the
// bytes the decoder handed on.
struct TMemoryDecode {
  int32_t Code = 0;
  std::string Output;
};

// Decompresses with one method from memory, feeding the input in pieces of pieceSize bytes (so
// block boundaries fall everywhere); the output must come to exactly declaredSize.
TMemoryDecode DecodeInMemory(uint16_t method, uint16_t flags, const std::string &compressed,
                             uint64_t declaredSize, size_t pieceSize = 1 << 20);

// Inflates a raw deflate stream up to its final block without any size check.
TMemoryDecode InflateInMemory(const std::string &compressed, size_t pieceSize = 1 << 20);

// zlib's verdict on the same stream: Code 0 when it reached the stream end.
TMemoryDecode ZlibInflate(const std::string &compressed);

} // namespace velmora::testing
