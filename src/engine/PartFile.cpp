#include "engine/PartFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace velmora {

namespace {

int OpenNoFollow(const std::string &path, int flags) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

} // namespace

TPartFile::~TPartFile() { Close(); }

TPartFile::TPartFile(TPartFile &&other) noexcept
    : fd_(std::exchange(other.fd_, -1)), writeBehind_(other.writeBehind_) {}

TPartFile &TPartFile::operator=(TPartFile &&other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    writeBehind_ = other.writeBehind_;
  }
  return *this;
}

TPartFile TPartFile::Open(const std::string &path, std::string *error) {
  const int fd = OpenNoFollow(path, O_RDWR | O_CREAT);
  if (fd < 0) {
    if (error)
      *error = path + ": " + std::strerror(errno);
    return TPartFile();
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    if (error)
      *error = path + ": not a regular file";
    ::close(fd);
    return TPartFile();
  }
  return TPartFile(fd);
}

int64_t TPartFile::Size() const {
  struct stat info {};
  if (fd_ < 0 || ::fstat(fd_, &info) != 0)
    return -1;
  return static_cast<int64_t>(info.st_size);
}

bool TPartFile::WriteAt(int64_t offset, std::string_view data) {
  while (!data.empty()) {
    const ssize_t written = ::pwrite(fd_, data.data(), data.size(), static_cast<off_t>(offset));
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0) {
      if (written == 0)
        errno = EIO; // no progress, and the system named no reason
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(written));
    offset += written;
  }
  writeBehind_.Written(fd_, offset);
  return true;
}

bool TPartFile::Truncate(int64_t length) {
  return fd_ >= 0 && length >= 0 && ::ftruncate(fd_, static_cast<off_t>(length)) == 0;
}

void TPartFile::Close() {
  if (fd_ >= 0)
    ::close(std::exchange(fd_, -1));
}

std::string PartFileName(std::string_view tempFileName, int64_t startByte) {
  return std::string(tempFileName) + "." + std::to_string(startByte);
}

std::optional<int64_t> PartFileSize(const std::string &path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
    return std::nullopt;
  return static_cast<int64_t>(info.st_size);
}

bool CreatePartFile(const std::string &path) { return TPartFile::Open(path).IsOpen(); }

bool DeletePartFile(const std::string &path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

TPartFileFit FitPartFile(const std::string &path, int64_t length) {
  const std::optional<int64_t> size = PartFileSize(path);
  if (!size)
    return TPartFileFit::pffMissing;
  if (*size == length)
    return TPartFileFit::pffExact;
  if (*size < length)
    return TPartFileFit::pffTooShort;
  const int fd = OpenNoFollow(path, O_WRONLY);
  if (fd < 0)
    return TPartFileFit::pffFailed;
  const bool cut = ::ftruncate(fd, static_cast<off_t>(length)) == 0;
  ::close(fd);
  return cut ? TPartFileFit::pffCut : TPartFileFit::pffFailed;
}

} // namespace velmora
