#include "platform/FileContents.h"

#include "platform/SystemError.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora::platform {

namespace {

class Descriptor {
public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  int get() const { return fd_; }

private:
  int fd_;
};

} // namespace

FileResult ReadFileContents(const std::string &path, std::string &contents, uint64_t maxBytes,
                            bool *missing) {
  contents.clear();
  if (missing)
    *missing = false;
  Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (file.get() < 0) {
    if (missing)
      *missing = errno == ENOENT;
    return FileResult::Failure(DescribeSystemError("Cannot open", path, errno));
  }
  struct stat info {};
  if (::fstat(file.get(), &info) != 0)
    return FileResult::Failure(DescribeSystemError("Cannot examine", path, errno));
  // A FIFO or device would block or never end; only plain files are read.
  if (!S_ISREG(info.st_mode))
    return FileResult::Failure("Not a regular file: " + path);
  if (static_cast<uint64_t>(info.st_size) > maxBytes)
    return FileResult::Failure("File too large: " + path);
  contents.reserve(static_cast<std::size_t>(info.st_size));
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR)
      continue;
    if (got < 0)
      return FileResult::Failure(DescribeSystemError("Cannot read", path, errno));
    if (got == 0)
      break;
    if (contents.size() + static_cast<std::size_t>(got) > maxBytes)
      return FileResult::Failure("File too large: " + path);
    contents.append(buffer, static_cast<std::size_t>(got));
  }
  return FileResult::Success();
}

} // namespace velmora::platform
