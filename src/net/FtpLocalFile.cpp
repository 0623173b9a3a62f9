#include "net/FtpLocalFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

bool TFtpLocalFile::Open(const std::string &path, int64_t startAt, TFtpShareMode mode) {
  Close();
  writeError_ = 0;
  if (path.empty() || startAt < 0)
    return false;
  const int flags = O_WRONLY | O_CLOEXEC | O_NOFOLLOW | (startAt == 0 ? O_CREAT : 0);
  fd_ = ::open(path.c_str(), flags, 0666);
  if (fd_ < 0)
    return false;
  struct stat status {};
  const bool locked =
      mode == ftpShareCompat || mode == ftpShareDenyNone || flock(fd_, LOCK_EX | LOCK_NB) == 0;
  // Cutting only after the lock is held, so a file another transfer writes is never emptied. An
  // empty file is not cut: on ext4 a cut to 0 makes the close write the whole file out, and a part
  // file is read back and copied once more by the join, so that would write it twice.
  if (!locked || fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < startAt ||
      (startAt == 0 && status.st_size > 0 && ftruncate(fd_, 0) != 0)) {
    Close();
    return false;
  }
  position_ = startAt;
  return true;
}

bool TFtpLocalFile::Write(const char *data, std::size_t length) {
  while (fd_ >= 0 && length > 0) {
    const ssize_t written = pwrite(fd_, data, length, position_);
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0) {
      writeError_ = written == 0 ? EIO : errno;
      return false;
    }
    data += written;
    length -= static_cast<std::size_t>(written);
    position_ += written;
  }
  if (fd_ < 0) {
    writeError_ = EBADF;
    return false;
  }
  writeBehind_.Written(fd_, position_);
  return true;
}

void TFtpLocalFile::Close() {
  if (fd_ < 0)
    return;
  ::close(fd_);
  fd_ = -1;
}

} // namespace velmora
