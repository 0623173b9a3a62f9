#include "platform/Paths.h"

#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <unistd.h>

namespace velmora::platform {

namespace {

namespace fs = std::filesystem;

std::string WithSlash(std::string folder) {
  if (folder.empty() || folder.back() != '/')
    folder += '/';
  return folder;
}

std::string HomeFolder(const Environment &environment) {
  if (auto home = FirstSet(environment, {"HOME"}))
    return *home;
  const passwd *user = ::getpwuid(::getuid());
  if (user != nullptr && user->pw_dir != nullptr)
    return user->pw_dir;
  return "/";
}

// XDG base folders count only when absolute; relative ones are to be ignored.
std::optional<std::string> XdgFolder(const Environment &environment, const char *name) {
  auto value = FirstSet(environment, {name});
  if (!value || value->front() != '/')
    return std::nullopt;
  while (value->size() > 1 && value->back() == '/')
    value->pop_back();
  return value;
}

// The download folder as xdg-user-dir reads it: XDG_DOWNLOAD_DIR="$HOME/..." or an absolute path in
// user-dirs.dirs of the config home. Read directly, so start-up runs no helper program.
std::optional<std::string> XdgDownloadFolder(const std::string &configHome, const std::string &home) {
  std::ifstream dirs(configHome + "/user-dirs.dirs");
  std::string line;
  const std::string key = "XDG_DOWNLOAD_DIR=\"";
  while (std::getline(dirs, line)) {
    if (line.rfind(key, 0) != 0)
      continue;
    const auto close = line.find('"', key.size());
    if (close == std::string::npos)
      return std::nullopt;
    std::string value = line.substr(key.size(), close - key.size());
    if (value.rfind("$HOME", 0) == 0)
      value.replace(0, 5, home);
    while (value.size() > 1 && value.back() == '/')
      value.pop_back();
    // A download folder set to the home folder itself means the user switched it off.
    if (value.empty() || value.front() != '/' || fs::path(value) == fs::path(home).lexically_normal())
      return std::nullopt;
    return value;
  }
  return std::nullopt;
}

bool IsInside(const std::string &file, const std::string &folder) {
  const std::string prefix = WithSlash(folder);
  return file.rfind(prefix, 0) == 0;
}

std::string ShareFolder(const std::string &programFile) {
#ifdef VELMORA_BUILD_DIR
  if (IsInside(programFile, VELMORA_BUILD_DIR))
    return WithSlash(std::string(VELMORA_SOURCE_DIR) + "/data");
#endif
  const fs::path prefix = fs::path(programFile).parent_path().parent_path();
  return WithSlash((prefix / "share" / "velmora").string());
}

} // namespace

Paths Paths::Compute(const Environment &environment, const std::string &programFile) {
  Paths paths;
  const std::string home = HomeFolder(environment);
  const std::string configHome = XdgFolder(environment, "XDG_CONFIG_HOME").value_or(home + "/.config");
  paths.programFile = programFile;
  if (auto own = FirstSet(environment, {"VELMORA_HOME"})) {
    const std::string folder = WithSlash(fs::absolute(*own).lexically_normal().string());
    paths.dataFolder = folder;
    paths.configFolder = folder;
    paths.runtimeFolder = folder + "run/";
  } else {
    paths.dataFolder =
        WithSlash(XdgFolder(environment, "XDG_DATA_HOME").value_or(home + "/.local/share") + "/velmora");
    paths.configFolder = WithSlash(configHome + "/velmora");
    const auto runtime = XdgFolder(environment, "XDG_RUNTIME_DIR");
    paths.runtimeFolder =
        runtime ? WithSlash(*runtime + "/velmora") : "/tmp/velmora-" + std::to_string(::getuid()) + "/";
  }
  paths.shareFolder = ShareFolder(programFile);
  paths.defaultSaveFolder = XdgDownloadFolder(configHome, home).value_or(home + "/Downloads");

  const std::string &data = paths.dataFolder;
  paths.helpFile = data + "velmora.html";
  paths.categoryFile = data + "cat.dat";
  paths.translationsFolder = data + "Translations";
  paths.defaultPartialDownloadsFolder = data + "Partial Downloads";
  paths.mirrorListFile = data + "mirrors.lst";
  paths.serverStatsFile = data + "serverstats.txt";
  paths.pingStatisticsFile = data + "StatisticsPing.html";
  paths.speedStatisticsFile = data + "StatisticsSpeed.html";
  paths.lastUrlsFile = data + "LastURLs";
  paths.settingsFile = paths.configFolder + "settings.db";
  return paths;
}

std::string RunningProgramFile() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.string();
}

} // namespace velmora::platform
