#pragma once

#include "platform/Environment.h"

#include <string>

namespace velmora::platform {

// The folders and fixed file names of one user, computed once at start-up and passed to whatever
// needs them. Folders that hold the program's own files end in "/"; file names are full paths.
struct Paths {
  std::string programFile;       // the running program
  std::string dataFolder;        // $VELMORA_HOME, else $XDG_DATA_HOME/velmora, else ~/.local/share/velmora
  std::string configFolder;      // $VELMORA_HOME, else $XDG_CONFIG_HOME/velmora, else ~/.config/velmora
  std::string runtimeFolder;     // $VELMORA_HOME/run, else $XDG_RUNTIME_DIR/velmora, else /tmp/velmora-<uid>
  std::string shareFolder;       // the files shipped with the program (read only)
  std::string defaultSaveFolder; // the XDG download folder, else ~/Downloads; no trailing "/"

  // Below the data folder.
  std::string helpFile;                      // "velmora.html"
  std::string categoryFile;                  // "cat.dat"
  std::string translationsFolder;            // "Translations", no trailing "/"
  std::string defaultPartialDownloadsFolder; // "Partial Downloads", no trailing "/"
  std::string mirrorListFile;                // "mirrors.lst"
  std::string serverStatsFile;               // "serverstats.txt"
  std::string pingStatisticsFile;            // "StatisticsPing.html"
  std::string speedStatisticsFile;           // "StatisticsSpeed.html"
  std::string lastUrlsFile;                  // "LastURLs"
  // Below the config folder.
  std::string settingsFile; // "settings.db"

  // programFile decides the share folder: the source tree's data folder when the program runs from
  // the build tree, else <prefix>/share/velmora beside the <prefix>/bin holding the program.
  static Paths Compute(const Environment &environment, const std::string &programFile);
};

// Full path of the running program file.
std::string RunningProgramFile();

} // namespace velmora::platform
