#include "management/SaveAsValidation.h"

#include "shell/ReportError.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <random>
#include <system_error>

namespace velmora {

namespace {

std::string Trimmed(const std::string &text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos)
    return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::string Expanded(const std::string &path, const std::string &home) {
  if (path.rfind("~/", 0) == 0 && !home.empty())
    return (std::filesystem::path(home) / path.substr(2)).string();
  return path;
}

std::string Quoted(const std::string &text) { return "\"" + text + "\""; }

// Whether a new file of that name could be made in the existing folder, without making it: a
// temporary name of ours is made and removed, so nothing of the user's is ever touched.
bool CanCreateIn(const std::filesystem::path &folder, const std::string &name) {
  const long nameMax = pathconf(folder.c_str(), _PC_NAME_MAX);
  if (name.size() > static_cast<std::size_t>(nameMax > 0 ? nameMax : NAME_MAX))
    return false;
  std::random_device random;
  for (int attempt = 0; attempt < 8; ++attempt) {
    const std::filesystem::path probe = folder / (".velmora-probe-" + std::to_string(random()));
    const int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      close(fd);
      unlink(probe.c_str());
      return true;
    }
    if (errno != EEXIST)
      return false;
  }
  return false;
}

bool Writable(const std::filesystem::path &path) {
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (std::filesystem::exists(status))
    return std::filesystem::is_regular_file(status) && access(path.c_str(), W_OK) == 0;
  return CanCreateIn(path.parent_path(), path.filename().string());
}

} // namespace

TSaveAsVerdict SubmitedInfoCorrect(const std::string &text, const TSaveAsChecks &checks,
                                   ISaveAsQuestions &questions) {
  TSaveAsVerdict verdict;
  GuardedVoid("function TForm_DownloadFileInfo.SubmitedInfoCorrect : boolean", [&] {
    const auto &tr = checks.Translate;
    verdict.Path = Expanded(Trimmed(text), checks.Home);
    const std::filesystem::path path(verdict.Path);
    // Only an absolute path names one place whatever the program's working folder is.
    if (!path.is_absolute() || !path.has_filename()) {
      questions.Warn(tr("Please enter a valid filepath."));
      questions.FocusFileName();
      return;
    }
    std::error_code error;
    if (std::filesystem::exists(path, error) &&
        !questions.AskYesNo(tr("The file") + " " + Quoted(verdict.Path) + " " +
                            tr("already exists. Do you want to overwrite it?")))
      return;
    verdict.Correct = true;
    if (checks.FileNameInUse && checks.FileNameInUse(verdict.Path)) {
      questions.Warn(
          tr("This file name is in use by another downloading process. Please choose another file name."));
      verdict.Correct = false;
    }
    const std::filesystem::path folder = path.parent_path();
    if (std::filesystem::is_directory(folder, error)) {
      if (!Writable(path)) {
        questions.Warn(tr("The file") + " " + Quoted(verdict.Path) + " " +
                       tr("couldn't be opened for writing."));
        questions.FocusFileName();
        verdict.Correct = false;
      }
      return;
    }
    if (!questions.AskYesNo(tr("The directory") + " " + Quoted(folder.string()) + " " +
                            tr("doesn't exist. Do you want to create it?"))) {
      verdict.Correct = false;
      return;
    }
    std::filesystem::create_directories(folder, error);
    if (error || !std::filesystem::is_directory(folder, error)) {
      questions.Warn(tr("The directory couldn't be created."));
      questions.FocusFileName();
      verdict.Correct = false;
    }
  });
  return verdict;
}

} // namespace velmora
