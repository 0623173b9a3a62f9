#pragma once

// A private scratch folder for fuzz targets whose code under test reads and writes files.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace velmora::fuzzing {

// The folder, made once per process below the temporary folder and removed at its exit.
inline const std::string &ScratchFolder() {
  struct TFolder {
    std::string Path;
    TFolder() {
      const char *tmp = std::getenv("TMPDIR");
      Path = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/velmora-fuzz-XXXXXX";
      if (::mkdtemp(Path.data()) == nullptr)
        std::abort();
    }
    ~TFolder() {
      std::error_code ignored;
      std::filesystem::remove_all(Path, ignored);
    }
  };
  static const TFolder folder;
  return folder.Path;
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
