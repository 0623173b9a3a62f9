#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace velmora::platform {

// Outcome of a file operation: ok, or the reason it failed in words (path and system error).
struct FileResult {
  bool ok = false;
  std::string error;
  explicit operator bool() const { return ok; }
  static FileResult Success() { return {true, {}}; }
  static FileResult Failure(std::string reason) { return {false, std::move(reason)}; }
};

// Reads a whole file into contents. A file larger than maxBytes is refused, so a hostile or broken
// file cannot exhaust memory. missing is set when the failure is only that the file does not exist.
FileResult ReadFileContents(const std::string &path, std::string &contents, uint64_t maxBytes,
                            bool *missing = nullptr);

} // namespace velmora::platform
