#include "unzip/TargetFolder.h"

#include "unzip/ZipTypes.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace velmora {

namespace {

constexpr int kCreateAttempts = 100;
constexpr size_t kDefaultNameMax = 255;

bool IsDriveLetter(const std::string &name) {
  return name.size() >= 2 && name[1] == ':' &&
         ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
}

std::string TemporaryNameFor(int attempt) {
  static std::atomic<unsigned> counter{0};
  return ".velmora-unzip-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
         std::to_string(attempt);
}

} // namespace

int32_t SplitEntryName(const std::string &name, size_t nameMax, TEntryPath &path) {
  path = TEntryPath{};
  if (name.empty() || name.front() == '/' || IsDriveLetter(name) || name.find('\\') != std::string::npos ||
      name.find('\0') != std::string::npos)
    return uzrUnsafeName;
  if (name.size() >= PATH_MAX)
    return uzrNameTooLong;
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= name.size()) {
    size_t slash = name.find('/', start);
    if (slash == std::string::npos)
      slash = name.size();
    std::string part = name.substr(start, slash - start);
    start = slash + 1;
    if (part.empty() || part == ".")
      continue;
    if (part == "..")
      return uzrUnsafeName;
    if (part.size() > nameMax)
      return uzrNameTooLong;
    parts.push_back(std::move(part));
  }
  if (name.back() != '/') {
    if (parts.empty())
      return uzrUnsafeName;
    path.FileName = std::move(parts.back());
    parts.pop_back();
  }
  path.Folders = std::move(parts);
  return uzrDone;
}

TFileDescriptor OpenFolderBelow(int parent, const std::vector<std::string> &folders) {
  TFileDescriptor current(::fcntl(parent, F_DUPFD_CLOEXEC, 0));
  for (const std::string &folder : folders) {
    if (!current.Valid())
      break;
    if (::mkdirat(current.Get(), folder.c_str(), 0777) != 0 && errno != EEXIST)
      return TFileDescriptor();
    current = TFileDescriptor(
        ::openat(current.Get(), folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  }
  return current;
}

size_t NameMaxOf(int folder) {
  long limit = ::fpathconf(folder, _PC_NAME_MAX);
  return limit > 0 ? static_cast<size_t>(limit) : kDefaultNameMax;
}

TPendingFile::~TPendingFile() {
  if (!temporaryName_.empty()) {
    file_.Close();
    ::unlinkat(folder_, temporaryName_.c_str(), 0);
  }
}

int32_t TPendingFile::Create(int folder, const std::string &name, mode_t mode) {
  folder_ = folder;
  name_ = name;
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    std::string candidate = TemporaryNameFor(attempt);
    int fd = ::openat(folder, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
      file_ = TFileDescriptor(fd);
      temporaryName_ = candidate;
      return uzrDone;
    }
    if (errno != EEXIST)
      break;
  }
  return uzrCannotWrite;
}

void TPendingFile::Write(const uint8_t *data, size_t size) {
  while (size > 0) {
    ssize_t written = ::write(file_.Get(), data, size);
    if (written < 0 && errno == EINTR)
      continue;
    if (written <= 0)
      throw EUnzipError(uzrCannotWrite);
    data += written;
    size -= static_cast<size_t>(written);
  }
}

int32_t TPendingFile::Commit(int64_t modificationTime) {
  if (modificationTime >= 0) {
    struct timespec times[2] = {{0, UTIME_NOW}, {static_cast<time_t>(modificationTime), 0}};
    ::futimens(file_.Get(), times);
  }
  if (!file_.Close() || ::renameat(folder_, temporaryName_.c_str(), folder_, name_.c_str()) != 0)
    return uzrCannotWrite;
  temporaryName_.clear();
  return uzrDone;
}

} // namespace velmora
