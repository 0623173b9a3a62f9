#include "ZipTestSupport.h"

#include "support/TempDir.h"
#include "unzip/BitReader.h"
#include "unzip/EntryExtraction.h"
#include "unzip/OutputWindow.h"
#include "unzip/ZipTypes.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <stdexcept>
#include <sys/wait.h>
#include <zlib.h>

namespace velmora::testing {

namespace {

void Put16(std::string &out, uint32_t value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}
void Put32(std::string &out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

class TMemorySource : public IByteSource {
public:
  TMemorySource(const std::string &data, size_t pieceSize) : data_(data), pieceSize_(pieceSize) {}
  size_t Read(uint8_t *buffer, size_t size) override {
    size_t piece = std::min({size, pieceSize_, data_.size() - at_});
    std::copy_n(data_.data() + at_, piece, buffer);
    at_ += piece;
    return piece;
  }

private:
  const std::string &data_;
  size_t pieceSize_;
  size_t at_ = 0;
};

class TStringSink : public IByteSink {
public:
  void Write(const uint8_t *data, size_t size) override {
    text.append(reinterpret_cast<const char *>(data), size);
  }
  std::string text;
};

} // namespace

TMemoryDecode DecodeInMemory(uint16_t method, uint16_t flags, const std::string &compressed,
                             uint64_t declaredSize, size_t pieceSize) {
  TMemorySource source(compressed, pieceSize);
  TStringSink sink;
  TMemoryDecode result;
  try {
    TOutputWindow output(sink, declaredSize);
    DecompressEntryData(method, flags, source, output);
    output.Finish();
  } catch (const EUnzipError &failure) {
    result.Code = failure.Code;
  }
  result.Output = std::move(sink.text);
  return result;
}

TMemoryDecode InflateInMemory(const std::string &compressed, size_t pieceSize) {
  TMemorySource source(compressed, pieceSize);
  TStringSink sink;
  TMemoryDecode result;
  try {
    TOutputWindow output(sink, uint64_t{1} << 40);
    DecompressEntryData(zmDeflated, 0, source, output);
    output.Flush();
  } catch (const EUnzipError &failure) {
    result.Code = failure.Code;
  }
  result.Output = std::move(sink.text);
  return result;
}

TMemoryDecode ZlibInflate(const std::string &compressed) {
  z_stream stream{};
  TMemoryDecode result;
  if (inflateInit2(&stream, -15) != Z_OK)
    throw std::runtime_error("inflateInit2");
  stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(compressed.data()));
  stream.avail_in = static_cast<uInt>(compressed.size());
  std::array<char, 65536> piece;
  int status = Z_OK;
  while (status == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef *>(piece.data());
    stream.avail_out = static_cast<uInt>(piece.size());
    status = inflate(&stream, Z_NO_FLUSH);
    result.Output.append(piece.data(), piece.size() - stream.avail_out);
    if (status == Z_OK && stream.avail_in == 0 && stream.avail_out != 0)
      break; // wants more input than there is
  }
  inflateEnd(&stream);
  result.Code = status == Z_STREAM_END ? 0 : -1;
  return result;
}

TCraftedEntry StoredEntry(const std::string &name, const std::string &data) {
  TCraftedEntry entry;
  entry.Name = name;
  entry.Data = data;
  entry.Crc = ZlibCrc(data);
  entry.UncompressedSize = data.size();
  return entry;
}

std::string BuildArchive(const std::vector<TCraftedEntry> &entries, const std::string &comment) {
  std::string archive;
  std::string directory;
  for (const TCraftedEntry &entry : entries) {
    uint32_t offset = static_cast<uint32_t>(archive.size());
    uint32_t compressed = entry.SaturateSizes ? 0xFFFFFFFF : static_cast<uint32_t>(entry.Data.size());
    uint32_t uncompressed = entry.SaturateSizes ? 0xFFFFFFFF : static_cast<uint32_t>(entry.UncompressedSize);
    Put32(archive, 0x04034B50);
    Put16(archive, 20);
    Put16(archive, entry.Flags);
    Put16(archive, entry.Method);
    Put32(archive, entry.DosDateTime);
    Put32(archive, entry.Crc);
    Put32(archive, compressed);
    Put32(archive, uncompressed);
    Put16(archive, static_cast<uint32_t>(entry.Name.size()));
    Put16(archive, 0);
    archive += entry.Name;
    archive += entry.Data;

    Put32(directory, 0x02014B50);
    Put16(directory, uint32_t{entry.Host} << 8 | 20);
    Put16(directory, 20);
    Put16(directory, entry.Flags);
    Put16(directory, entry.Method);
    Put32(directory, entry.DosDateTime);
    Put32(directory, entry.Crc);
    Put32(directory, compressed);
    Put32(directory, uncompressed);
    Put16(directory, static_cast<uint32_t>(entry.Name.size()));
    Put16(directory, 0);
    Put16(directory, 0);
    Put16(directory, 0);
    Put16(directory, 0);
    Put32(directory, entry.ExternalAttributes);
    Put32(directory, offset);
    directory += entry.Name;
  }
  uint32_t directoryOffset = static_cast<uint32_t>(archive.size());
  archive += directory;
  Put32(archive, 0x06054B50);
  Put16(archive, 0);
  Put16(archive, 0);
  Put16(archive, static_cast<uint32_t>(entries.size()));
  Put16(archive, static_cast<uint32_t>(entries.size()));
  Put32(archive, static_cast<uint32_t>(directory.size()));
  Put32(archive, directoryOffset);
  Put16(archive, static_cast<uint32_t>(comment.size()));
  archive += comment;
  return archive;
}

std::string ZlibDeflate(const std::string &data, int level, int strategy) {
  z_stream stream{};
  if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, strategy) != Z_OK)
    throw std::runtime_error("deflateInit2");
  std::string out(deflateBound(&stream, data.size()) + 16, '\0');
  stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef *>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END)
    throw std::runtime_error("deflate");
  return out;
}

uint32_t ZlibCrc(const std::string &data) {
  return static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef *>(data.data()), static_cast<uInt>(data.size())));
}

int RunCommand(const std::string &command) {
  int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ShellQuote(const std::string &text) {
  std::string quoted = "'";
  for (char c : text)
    quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string Sha256OfFile(const std::filesystem::path &path) {
  std::string command = "sha256sum " + ShellQuote(path.string());
  FILE *pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr)
    return {};
  std::array<char, 65> digest{};
  size_t got = std::fread(digest.data(), 1, 64, pipe);
  ::pclose(pipe);
  return std::string(digest.data(), got);
}

std::filesystem::path UnzipDataDir() { return std::filesystem::path(VELMORA_TESTDATA_DIR) / "unzip"; }

std::vector<std::pair<std::string, std::string>> FilesBelow(const std::filesystem::path &root) {
  std::vector<std::pair<std::string, std::string>> files;
  for (const auto &item : std::filesystem::recursive_directory_iterator(root))
    if (item.is_regular_file())
      files.emplace_back(std::filesystem::relative(item.path(), root).string(), ReadWholeFile(item.path()));
  std::sort(files.begin(), files.end());
  return files;
}

} // namespace velmora::testing
