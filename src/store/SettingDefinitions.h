#pragma once

#include "store/Registry.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

// Each setting the program reads is defined once, here, with its default and (for numbers) its
// range, so every reader and the configuration dialog agree. A stored number outside the range is
// taken as the nearest end of it.
struct TIntegerSetting {
  std::string_view Section;
  std::string_view Name;
  int32_t Default;
  int32_t Minimum;
  int32_t Maximum;
};

struct TBoolSetting {
  std::string_view Section;
  std::string_view Name;
  bool Default;
};

// Settings whose default depends on the system (a folder, the proxy) take it from the reader.
struct TStringSetting {
  std::string_view Section;
  std::string_view Name;
  std::string_view Default;
};

namespace setting {

inline constexpr std::string_view kOptions = "Options";
inline constexpr int32_t kNoLimit = INT32_MAX;

// Parts and downloads at once: each is a connection and a file, so there is an upper end.
inline constexpr TIntegerSetting MaxSimultaneousDownloads{kOptions, "MaxSimultaneousDownloads", 3, 1, 100};
inline constexpr TIntegerSetting SplitParts{kOptions, "SplitParts", 4, 1, 64};
inline constexpr TIntegerSetting SmallestSplitSize{kOptions, "SmallestSplitSize", 100, 0,
                                                   kNoLimit}; // kilobytes
// Milliseconds; 0 waits for ever.
inline constexpr TIntegerSetting TimeOutTime{kOptions, "TimeOutTime", 30000, 0, kNoLimit};
inline constexpr TIntegerSetting MirrorTimeOutTime{kOptions, "MirrorTimeOutTime", 10000, 0, kNoLimit};
inline constexpr TIntegerSetting RetryDelay{kOptions, "RetryDelay", 30, 0, kNoLimit}; // seconds
inline constexpr TIntegerSetting RetryTimes{kOptions, "RetryTimes", 10, 0, kNoLimit};

inline constexpr TBoolSetting TryLocalMirrorlist{kOptions, "TryLocalMirrorlist", true};
inline constexpr TBoolSetting ShowDownloadWindow{kOptions, "ShowDownloadWindow", true};
inline constexpr TBoolSetting ShowCompletedDialog{kOptions, "ShowCompletedDialog", true};
inline constexpr TBoolSetting ShowSaveDialog{kOptions, "ShowSaveDialog", true};
inline constexpr TBoolSetting RemoveSuccessfulDownloadFromList{kOptions, "RemoveSuccessfulDownloadFromList",
                                                               false};
inline constexpr TBoolSetting RemoveUnexistingFilesFromList{kOptions, "RemoveUnexistingFilesFromList", true};
inline constexpr TBoolSetting DateFolders{kOptions, "DateFolders", false};
inline constexpr TBoolSetting ConnectUsingDialUp{kOptions, "ConnectUsingDialUp", false};
inline constexpr TBoolSetting DisconnectAfterDownload{kOptions, "DisconnectAfterDownload", false};
inline constexpr TBoolSetting AutoCloseAfterDownloads{kOptions, "AutoCloseAfterDownloads", false};
inline constexpr TBoolSetting VirusChecking{kOptions, "VirusChecking", false};
inline constexpr TBoolSetting PassiveMode{kOptions, "PassiveMode", false};

inline constexpr TStringSetting AntivirusExecutablePath{kOptions, "AntivirusExecutablePath", ""};
inline constexpr TStringSetting AntivirusExecutableParameters{kOptions, "AntivirusExecutableParameters", ""};
inline constexpr TStringSetting DefaultDownloadDirectory{kOptions, "DefaultDownloadDirectory", ""};
inline constexpr TStringSetting PartialDownloadsDirectory{kOptions, "PartialDownloadsDirectory", ""};

// The numbers the configuration dialog edits, for its fields and their limits.
inline constexpr std::array kIntegerSettings{
    MaxSimultaneousDownloads, SplitParts, SmallestSplitSize, TimeOutTime,
    MirrorTimeOutTime,        RetryDelay, RetryTimes};

} // namespace setting

// The value within the setting's range.
int32_t ClampSetting(const TIntegerSetting &setting, int64_t value);
int32_t ReadSetting(const TSettingsStore &settings, const TIntegerSetting &setting);
bool ReadSetting(const TSettingsStore &settings, const TBoolSetting &setting);
std::string ReadSetting(const TSettingsStore &settings, const TStringSetting &setting);
// With the system's default in place of the table's.
std::string ReadSetting(const TSettingsStore &settings, const TStringSetting &setting,
                        std::string_view fallback);

} // namespace velmora
