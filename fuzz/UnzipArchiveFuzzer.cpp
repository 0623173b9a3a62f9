// Extracts arbitrary archives into a scratch folder: beside a crash or a sanitizer report, any
// file written outside the target folder, or any symbolic link, is a finding.
#include "unzip/Unzip.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

const std::filesystem::path &Scratch() {
  static const std::filesystem::path scratch = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-fuzz-unzip-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
      std::abort();
    return std::filesystem::path(pattern);
  }();
  return scratch;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::filesystem::path archive = Scratch() / "input.zip";
  const std::filesystem::path out = Scratch() / "out";
  const std::filesystem::path target = out / "target";
  {
    std::ofstream file(archive, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char *>(data), static_cast<std::streamsize>(size));
  }
  std::filesystem::create_directories(target);
  velmora::ExtractArchive(archive.string(), target.string());
  for (const auto &item : std::filesystem::directory_iterator(out))
    if (item.path() != target)
      std::abort(); // written beside the target folder
  for (const auto &item : std::filesystem::recursive_directory_iterator(target))
    if (item.is_symlink())
      std::abort();
  std::filesystem::remove_all(target);
  return 0;
}
