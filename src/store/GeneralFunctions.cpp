#include "store/GeneralFunctions.h"

#include "shell/ReportError.h"
#include "store/TextChecks.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <stdexcept>

namespace velmora {

namespace {

constexpr std::string_view kOptions = "Options";
// A folder holding this many numbered copies of a name is not a case for another attempt.
constexpr int kMaxNumberedCandidates = 1000000;

std::string DateElement(const std::string &element, const std::chrono::year_month_day &date) {
  char text[16];
  if (element == "Year")
    (void)std::snprintf(text, sizeof text, "%04d", static_cast<int>(date.year()));
  else if (element == "Month")
    (void)std::snprintf(text, sizeof text, "%02u", static_cast<unsigned>(date.month()));
  else if (element == "Day")
    (void)std::snprintf(text, sizeof text, "%02u", static_cast<unsigned>(date.day()));
  else
    return {};
  return text;
}

std::string Divider(const std::string &setting) { return setting == "none" ? std::string() : setting; }

bool ExistsOnDisk(const std::string &path) {
  std::error_code error;
  // A dangling symbolic link still occupies the name.
  return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

} // namespace

std::chrono::year_month_day LocalToday() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return std::chrono::year_month_day{std::chrono::year(local.tm_year + 1900),
                                     std::chrono::month(static_cast<unsigned>(local.tm_mon + 1)),
                                     std::chrono::day(static_cast<unsigned>(local.tm_mday))};
}

std::string GetDateFolderName(const TSettingsStore &settings, std::chrono::year_month_day today) {
  std::string invalid = "Invalid Date!";
  return Guarded(
      "function GetDateFolderName : string",
      [&] {
        if (!today.ok())
          return invalid;
        return DateElement(settings.ReadString(kOptions, "Date1", "Month"), today) +
               Divider(settings.ReadString(kOptions, "DateDivider1", "-")) +
               DateElement(settings.ReadString(kOptions, "Date2", "Day"), today) +
               Divider(settings.ReadString(kOptions, "DateDivider2", "-")) +
               DateElement(settings.ReadString(kOptions, "Date3", "Year"), today);
      },
      invalid);
}

bool ValidExtension(std::string_view Ext, const TSettingsStore &settings) {
  return Guarded("function ValidExtension(Ext : string) : boolean", [&] {
    const std::string masks = LowerAscii(settings.ReadString(kOptions, "Extensions", "")) + " ";
    std::size_t start = 0;
    for (std::size_t blank = masks.find(' '); blank != std::string::npos; blank = masks.find(' ', start)) {
      if (MatchesMask(Ext, std::string_view(masks).substr(start, blank - start)))
        return true;
      start = blank + 1;
    }
    return false;
  });
}

std::string GetUniqueFileName(const std::string &path, const TFileInUse &FileInUse) {
  return Guarded("function GetUniqueFileName(path : string) : string", [&] {
    const auto taken = [&](const std::string &candidate) {
      return ExistsOnDisk(candidate) || (FileInUse && FileInUse(candidate));
    };
    if (!taken(path))
      return path;
    // The extension is the last "." of the file name itself, not of a folder above it.
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string stem = hasExtension ? path.substr(0, dot) : path;
    const std::string extension = hasExtension ? path.substr(dot) : std::string();
    for (int n = 1; n <= kMaxNumberedCandidates; ++n) {
      std::string candidate = stem;
      candidate.append("(").append(std::to_string(n)).append(")").append(extension);
      if (!taken(candidate))
        return candidate;
    }
    throw std::runtime_error("no free numbered name for " + path);
  });
}

} // namespace velmora
