#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

namespace velmora::testing {

// A tmpfs of the given size mounted on a folder while the object lives, so writes into it fail
// with "No space left on device" as on a full disk. Needs root (CAP_SYS_ADMIN); error() says what
// went wrong when it could not be mounted.
class SmallDisk {
public:
  SmallDisk(const std::filesystem::path &folder, std::size_t bytes);
  ~SmallDisk();
  SmallDisk(const SmallDisk &) = delete;
  SmallDisk &operator=(const SmallDisk &) = delete;

  bool mounted() const { return mounted_; }
  const std::string &error() const { return error_; }

private:
  std::string folder_;
  bool mounted_ = false;
  std::string error_;
};

} // namespace velmora::testing
