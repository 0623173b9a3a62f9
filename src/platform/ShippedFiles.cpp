#include "platform/ShippedFiles.h"

#include "platform/AtomicFile.h"
#include "platform/SystemError.h"

#include <cerrno>
#include <filesystem>
#include <sys/stat.h>

namespace velmora::platform {

namespace {

namespace fs = std::filesystem;

// Shipped files are small text and help pages; this only keeps a broken install from exhausting memory.
constexpr uint64_t kMaxShippedFileBytes = uint64_t{64} << 20;

void AddFailure(FileResult &overall, const std::string &reason) {
  overall.ok = false;
  overall.error += overall.error.empty() ? reason : "; " + reason;
}

FileResult CreatePrivateFolders(const fs::path &folder) {
  std::error_code error;
  if (fs::is_directory(folder, error))
    return FileResult::Success();
  if (!folder.parent_path().empty() && folder.parent_path() != folder) {
    FileResult parent = CreatePrivateFolders(folder.parent_path());
    if (!parent)
      return parent;
  }
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    return FileResult::Failure(DescribeSystemError("Cannot create the folder", folder.string(), errno));
  return FileResult::Success();
}

FileResult CopyShippedFile(const fs::path &source, const fs::path &target) {
  std::string contents;
  FileResult result = ReadFileContents(source.string(), contents, kMaxShippedFileBytes);
  if (!result)
    return result;
  result = CreatePrivateFolders(target.parent_path());
  if (!result)
    return result;
  return WriteFileAtomically(target.string(), contents);
}

} // namespace

FileResult CreateUserFolders(const Paths &paths) {
  FileResult overall = FileResult::Success();
  for (const std::string *folder : {&paths.dataFolder, &paths.configFolder, &paths.runtimeFolder}) {
    FileResult result = CreatePrivateFolders(fs::path(*folder).lexically_normal().parent_path());
    if (!result)
      AddFailure(overall, result.error);
  }
  return overall;
}

FileResult InstallShippedFiles(const Paths &paths) {
  FileResult overall = FileResult::Success();
  const fs::path share(paths.shareFolder);
  std::error_code error;
  if (!fs::is_directory(share, error))
    return FileResult::Failure("The folder of shipped files is missing: " + paths.shareFolder);
  fs::recursive_directory_iterator walk(share, error);
  for (; !error && walk != fs::end(walk); walk.increment(error)) {
    const fs::directory_entry &entry = *walk;
    if (!entry.is_regular_file(error))
      continue;
    const fs::path target = fs::path(paths.dataFolder) / entry.path().lexically_relative(share);
    if (fs::exists(fs::symlink_status(target, error)))
      continue;
    FileResult result = CopyShippedFile(entry.path(), target);
    if (!result)
      AddFailure(overall, result.error);
  }
  if (error)
    AddFailure(overall, DescribeSystemError("Cannot list", paths.shareFolder, error.value()));
  return overall;
}

} // namespace velmora::platform
