#include "support/SmallDisk.h"

#include <cerrno>
#include <cstring>
#include <sys/mount.h>

namespace velmora::testing {

SmallDisk::SmallDisk(const std::filesystem::path &folder, std::size_t bytes) : folder_(folder.string()) {
  const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
  if (::mount("velmora-test", folder_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0)
    mounted_ = true;
  else
    error_ = "mount tmpfs on " + folder_ + ": " + std::strerror(errno);
}

SmallDisk::~SmallDisk() {
  if (mounted_)
    ::umount2(folder_.c_str(), MNT_DETACH); // lazily, so a file still open cannot keep it
}

} // namespace velmora::testing
