#include "store/RecordLock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {

// A lock file unlinked by its last holder between our open and our flock is a dead inode: the
// next process would make a new file and lock that. Bounded: each retry means another process
// released the lock in the meantime.
constexpr int kAttempts = 8;

bool SameFile(int fd, const std::string &path) {
  struct stat opened {
  }, named{};
  return ::fstat(fd, &opened) == 0 && ::stat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
         opened.st_ino == named.st_ino;
}

} // namespace

TRecordLock::TAttempt TRecordLock::TryLock(const std::string &tempFileName) {
  const std::string path = LockFileName(tempFileName);
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
      return {rlFailed, nullptr, "Cannot create " + path + ": " + std::strerror(errno)};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd);
      if (error == EWOULDBLOCK)
        return {rlInUse, nullptr, {}};
      return {rlFailed, nullptr, "Cannot lock " + path + ": " + std::strerror(error)};
    }
    if (SameFile(fd, path))
      return {rlLocked, std::unique_ptr<TRecordLock>(new TRecordLock(fd, tempFileName)), {}};
    ::close(fd);
  }
  return {rlInUse, nullptr, {}};
}

bool TRecordLock::InUse(const std::string &tempFileName) {
  const int fd = ::open(LockFileName(tempFileName).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0)
    return false;
  const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held;
}

TRecordLock::~TRecordLock() {
  struct stat record {};
  // Unlinked while still held, so nobody can lock the old file in between.
  if (::stat((tempFileName_ + ".dat").c_str(), &record) != 0 && errno == ENOENT)
    ::unlink(LockFileName(tempFileName_).c_str());
  ::close(fd_);
}

} // namespace velmora
