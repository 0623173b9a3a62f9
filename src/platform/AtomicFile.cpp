#include "platform/AtomicFile.h"

#include "platform/SystemError.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::platform {

namespace {

std::string FolderOf(const std::string &path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos)
    return ".";
  if (slash == 0)
    return "/";
  return path.substr(0, slash);
}

mode_t CurrentUmask() {
  // umask(2) can only read the mask by changing it, which would race with other threads creating
  // files; the kernel shows it in /proc instead.
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0)
      return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
  }
  return 022;
}

mode_t ModeForReplacement(const std::string &path) {
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0)
    return existing.st_mode & 07777;
  return 0666 & ~CurrentUmask();
}

bool WriteAll(int fd, std::string_view contents) {
  while (!contents.empty()) {
    const ssize_t written = ::write(fd, contents.data(), contents.size());
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0)
      return false;
    contents.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Writes and flushes the temporary file; the caller renames it.
FileResult FillTemporary(int fd, const std::string &temporary, std::string_view contents, mode_t mode) {
  if (!WriteAll(fd, contents))
    return FileResult::Failure(DescribeSystemError("Cannot write", temporary, errno));
  if (::fchmod(fd, mode) != 0)
    return FileResult::Failure(DescribeSystemError("Cannot set the mode of", temporary, errno));
  if (::fsync(fd) != 0)
    return FileResult::Failure(DescribeSystemError("Cannot flush", temporary, errno));
  return FileResult::Success();
}

void SyncFolder(const std::string &folder) {
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0)
    return;
  // The rename has happened; a folder that cannot be flushed (some file systems refuse) only
  // weakens durability after a power cut, so it is not reported as a failed write.
  (void)::fsync(fd);
  ::close(fd);
}

} // namespace

FileResult WriteFileAtomically(const std::string &path, std::string_view contents) {
  const std::string folder = FolderOf(path);
  const mode_t mode = ModeForReplacement(path);
  std::string temporary = path + ".tmp-XXXXXX";
  const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0)
    return FileResult::Failure(DescribeSystemError("Cannot create a temporary file in", folder, errno));
  FileResult result = FillTemporary(fd, temporary, contents, mode);
  if (::close(fd) != 0 && result)
    result = FileResult::Failure(DescribeSystemError("Cannot write", temporary, errno));
  if (result && ::rename(temporary.c_str(), path.c_str()) != 0)
    result = FileResult::Failure(DescribeSystemError("Cannot replace", path, errno));
  if (!result) {
    ::unlink(temporary.c_str());
    return result;
  }
  SyncFolder(folder);
  return result;
}

} // namespace velmora::platform
