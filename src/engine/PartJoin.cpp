#include "engine/PartJoin.h"

#include "engine/PartFile.h"
#include "engine/PartLayout.h"
#include "platform/WriteBehind.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace velmora {

namespace {

constexpr int64_t kBlockSize = 65536;
// A multiple of the block size, so that progress is reported at the same points either way.
constexpr std::size_t kKernelCopyChunk = 128 * kBlockSize;
// A temporary name stays within the 255 bytes a file name may have.
constexpr std::size_t kMaxNameInTemporary = 200;

struct JoinFailure {
  std::string message;
};
struct JoinCancelled {};

// The folder a file is in; "." for a bare name.
std::string FolderOf(const std::string &file) {
  const std::filesystem::path path(file);
  return path.has_parent_path() ? path.parent_path().string() : ".";
}

// Whether folder is on the device dev, so that a rename from there into it can work.
bool OnFileSystem(dev_t dev, const std::string &folder) {
  struct stat info {};
  return ::stat(folder.c_str(), &info) == 0 && info.st_dev == dev;
}

std::string Reason(int errorNumber) {
  char buffer[256];
  return strerror_r(errorNumber, buffer, sizeof buffer);
}

class ClosedOnExit {
public:
  explicit ClosedOnExit(int fd) : fd_(fd) {}
  ~ClosedOnExit() {
    if (fd_ >= 0)
      ::close(fd_);
  }
  ClosedOnExit(const ClosedOnExit &) = delete;
  ClosedOnExit &operator=(const ClosedOnExit &) = delete;
  int get() const { return fd_; }
  // Closes now and returns the close's error number (0 when it succeeded).
  int close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0 ? 0 : errno;
  }

private:
  int fd_;
};

class Joiner {
public:
  Joiner(const TPartJoinJob &job, const TCombineTexts &texts, const std::function<void(int)> &onPercent,
         const std::atomic<bool> &cancelled)
      : job_(job), texts_(texts), onPercent_(onPercent), cancelled_(cancelled), size_(job.RemoteFileSize),
        kernelCopy_(job.KernelCopy) {
    writeBehind_.SetOn(true);
  }

  ~Joiner() {
    if (!temporary_.empty())
      ::unlink(temporary_.c_str());
  }
  Joiner(const Joiner &) = delete;
  Joiner &operator=(const Joiner &) = delete;

  void run() {
    if (size_ < 0)
      size_ = SizeOfFirstPart();
    reportPercent(0);
    if (job_.LocalFileName.empty())
      throw JoinFailure{texts_.CouldntOpen + " "};
    checkFinalName();
    if (kernelCopy_ && joinIntoFirstPart())
      return;
    ClosedOnExit target(createTemporary());
    std::vector<std::string> parts;
    while (total_ < size_) {
      const std::string part = PartFileName(job_.TempFileName, total_);
      appendPart(target.get(), part);
      parts.push_back(part);
    }
    if (total_ != size_)
      throw JoinFailure{texts_.FilesizeMismatch + " " + job_.LocalFileName};
    // An empty file appends no part, but its empty first part is a leftover all the same.
    if (parts.empty())
      parts.push_back(PartFileName(job_.TempFileName, 0));
    commit(target);
    // The joined file is safely in place; a part that cannot be removed is only a leftover.
    for (const std::string &part : parts)
      ::unlink(part.c_str());
  }

private:
  [[noreturn]] void failToWrite(int errorNumber) const {
    throw JoinFailure{texts_.CouldntWrite + " " + job_.LocalFileName + ": " + Reason(errorNumber)};
  }

  int64_t SizeOfFirstPart() const {
    const std::string first = PartFileName(job_.TempFileName, 0);
    struct stat info {};
    if (::stat(first.c_str(), &info) != 0)
      throw JoinFailure{texts_.CouldntOpen + " " + first};
    return info.st_size;
  }

  void reportPercent(int64_t total) {
    if (size_ <= 0)
      return; // no percentage of nothing
    const int percent = RoundedPercent(total, size_);
    if (percent == lastPercent_)
      return;
    lastPercent_ = percent;
    onPercent_(percent);
  }

  // Progress after bytes [before, after) of a part starting at partBase were copied: once for each
  // 65536-byte block boundary passed, as a copy in blocks reports it.
  void reportBlocks(int64_t partBase, int64_t before, int64_t after) {
    for (int64_t boundary = (before / kBlockSize + 1) * kBlockSize; boundary <= after; boundary += kBlockSize)
      reportPercent(partBase + boundary);
  }

  // The final file's folder exists afterwards; a file already there is replaced in its mode.
  void checkFinalName() {
    std::error_code ignored;
    std::filesystem::create_directories(FolderOf(job_.LocalFileName), ignored);
    struct stat existing {};
    if (::stat(job_.LocalFileName.c_str(), &existing) == 0) {
      if (!S_ISREG(existing.st_mode))
        throw JoinFailure{texts_.CouldntOpen + " " + job_.LocalFileName};
      keptMode_ = existing.st_mode & 07777;
    }
  }

  // The first part already holds the start of the file: the others are appended to it and it is
  // renamed into place, so its bytes are neither copied nor written again. This is as safe as
  // copying into a temporary file: the other parts stay until the rename, a failure cuts the first
  // part back to its length, and a crash leaves it longer than its range, which the next start of
  // the download cuts back before joining again. False when the copy has to do it: a part missing or
  // of the wrong length (the copy names it), another file system, a first part with other links.
  bool joinIntoFirstPart() {
    const std::string first = PartFileName(job_.TempFileName, 0);
    struct stat info {};
    if (size_ <= 0 || ::lstat(first.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1)
      return false;
    const int64_t firstLength = info.st_size;
    std::optional<std::vector<std::string>> rest = CompletePartFiles(job_.TempFileName, size_);
    if (!rest || !OnFileSystem(info.st_dev, FolderOf(job_.LocalFileName)))
      return false;
    rest->erase(rest->begin()); // the first part itself
    ClosedOnExit target(::open(first.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
    if (target.get() < 0 || ::lseek(target.get(), firstLength, SEEK_SET) != firstLength)
      return false;
    total_ = firstLength;
    // The disk writes the first part while the others are appended.
    writeBehind_.Written(target.get(), total_);
    reportBlocks(0, 0, firstLength);
    reportPercent(total_);
    try {
      for (const std::string &part : *rest)
        appendPart(target.get(), part);
      if (total_ != size_)
        throw JoinFailure{texts_.FilesizeMismatch + " " + job_.LocalFileName};
      flush(target.get());
      if (::rename(first.c_str(), job_.LocalFileName.c_str()) != 0) {
        cutBack(target.get(), firstLength);
        total_ = 0; // the copy starts from the beginning
        return false;
      }
    } catch (...) {
      cutBack(target.get(), firstLength);
      throw;
    }
    syncFolderOf(job_.LocalFileName);
    reportPercent(total_);
    for (const std::string &part : *rest)
      ::unlink(part.c_str());
    return true;
  }

  static void cutBack(int target, int64_t firstLength) {
    // Should this fail too, the next start of the download cuts the part back.
    (void)::ftruncate(target, firstLength);
  }

  int createTemporary() {
    const std::filesystem::path local(job_.LocalFileName);
    const std::filesystem::path folder = FolderOf(job_.LocalFileName);
    const std::string couldntOpen = texts_.CouldntOpen + " " + job_.LocalFileName;
    std::random_device seed;
    std::mt19937 random(seed());
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::uniform_int_distribution<std::size_t> letter(0, sizeof kLetters - 2);
    const std::string stem =
        "." + local.filename().string().substr(0, kMaxNameInTemporary) + ".velmora-join-";
    for (int attempt = 0; attempt < 100; ++attempt) {
      std::string suffix(6, ' ');
      for (char &c : suffix)
        c = kLetters[letter(random)];
      const std::string candidate = (folder / (stem + suffix)).string();
      // 0666 lets the umask decide the mode of a new file, as creating it directly would.
      const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        temporary_ = candidate;
        return fd;
      }
      if (errno != EEXIST)
        break;
    }
    throw JoinFailure{couldntOpen};
  }

  void appendPart(int target, const std::string &part) {
    ClosedOnExit source(::open(part.c_str(), O_RDONLY | O_CLOEXEC));
    if (source.get() < 0)
      throw JoinFailure{texts_.CouldntOpen + " " + part};
    const int64_t partBase = total_;
    int64_t copied = 0;
    for (;;) {
      if (cancelled_.load(std::memory_order_relaxed))
        throw JoinCancelled{};
      const int64_t count = copyBlock(source.get(), target, part);
      if (count == 0)
        break;
      reportBlocks(partBase, copied, copied + count);
      copied += count;
      total_ += count;
      writeBehind_.Written(target, total_);
    }
    reportPercent(total_);
    // Nothing was appended: the next part would have this same name, so the join cannot go on.
    if (copied == 0)
      throw JoinFailure{texts_.CouldntOpen + " " + part};
  }

  // Copies the next piece of source to the end of target; 0 at the end of source.
  int64_t copyBlock(int source, int target, const std::string &part) {
    while (kernelCopy_) {
      const ssize_t count = ::copy_file_range(source, nullptr, target, nullptr, kKernelCopyChunk, 0);
      if (count >= 0)
        return count;
      if (errno != EINTR)
        kernelCopy_ = false; // the plain copy below meets the real error, if there is one, and names it
    }
    if (buffer_.empty())
      buffer_.resize(kBlockSize);
    ssize_t count;
    do
      count = ::read(source, buffer_.data(), buffer_.size());
    while (count < 0 && errno == EINTR);
    if (count < 0)
      throw JoinFailure{texts_.CouldntRead + " " + part + ": " + Reason(errno)};
    writeAll(target, static_cast<std::size_t>(count));
    return count;
  }

  void writeAll(int target, std::size_t count) {
    std::size_t written = 0;
    while (written < count) {
      const ssize_t result = ::write(target, buffer_.data() + written, count - written);
      if (result < 0 && errno == EINTR)
        continue;
      if (result < 0)
        failToWrite(errno);
      written += static_cast<std::size_t>(result);
    }
  }

  // Flushes the joined file before it takes the final name, so that the name never stands for data
  // that is not on disk.
  void flush(int target) {
    if (cancelled_.load(std::memory_order_relaxed))
      throw JoinCancelled{};
    if (keptMode_)
      (void)::fchmod(target, *keptMode_); // the replaced file's mode; its data matters more
    if (::fsync(target) != 0)
      failToWrite(errno);
  }

  void commit(ClosedOnExit &target) {
    flush(target.get());
    if (const int error = target.close())
      failToWrite(error);
    if (::rename(temporary_.c_str(), job_.LocalFileName.c_str()) != 0)
      failToWrite(errno);
    temporary_.clear();
    syncFolderOf(job_.LocalFileName);
  }

  static void syncFolderOf(const std::string &file) {
    const int fd = ::open(FolderOf(file).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
      return;
    // Some file systems refuse to flush a folder; the rename has happened all the same.
    (void)::fsync(fd);
    ::close(fd);
  }

  const TPartJoinJob &job_;
  const TCombineTexts &texts_;
  const std::function<void(int)> &onPercent_;
  const std::atomic<bool> &cancelled_;
  int64_t size_;
  bool kernelCopy_;
  int64_t total_ = 0;
  platform::WriteBehind writeBehind_; // so that the flush at the end finds little left to write
  int lastPercent_ = -1;
  std::optional<mode_t> keptMode_; // of the file being replaced
  std::string temporary_;          // removed on every way out until it has been renamed into place
  std::vector<char> buffer_;
};

} // namespace

int RoundedPercent(int64_t total, int64_t size) {
  const int64_t scaled = total * 100;
  int64_t percent = scaled / size;
  const int64_t twiceRest = (scaled % size) * 2;
  if (twiceRest > size || (twiceRest == size && percent % 2 != 0))
    ++percent;
  return static_cast<int>(percent);
}

TCombineOutcome JoinParts(const TPartJoinJob &job, const TCombineTexts &texts,
                          const std::function<void(int percent)> &onPercent,
                          const std::atomic<bool> &cancelled) {
  try {
    Joiner(job, texts, onPercent, cancelled).run();
    return {true, {}};
  } catch (const JoinFailure &failure) {
    return {false, failure.message};
  } catch (const JoinCancelled &) {
    return {false, {}};
  }
}

} // namespace velmora
