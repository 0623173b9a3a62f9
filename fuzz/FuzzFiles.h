#pragma once

// A private scratch folder for fuzz targets whose code under test reads and writes files.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace velmora::fuzzing {

// The folder, made once per process below the temporary folder.
inline const std::string &ScratchFolder() {
  static const std::string folder = [] {
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/velmora-fuzz-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
      std::abort();
    return pattern;
  }();
  return folder;
}

// Writes the input as the file name inside the scratch folder and returns its path.
inline std::string WriteInput(const char *name, const uint8_t *data, size_t size) {
  const std::string path = ScratchFolder() + "/" + name;
  std::FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0)
    std::abort();
  return path;
}

} // namespace velmora::fuzzing
