#include "platform/Paths.h"
#include "platform/ShippedFiles.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sys/stat.h>

using velmora::platform::Environment;
using velmora::platform::InstallShippedFiles;
using velmora::platform::Paths;
using velmora::testing::ReadWholeFile;
using velmora::testing::TempDir;
using velmora::testing::WriteWholeFile;

namespace {

Environment Fake(std::map<std::string, std::string> variables) {
  return [variables = std::move(variables)](const std::string &name) -> std::optional<std::string> {
    const auto found = variables.find(name);
    if (found == variables.end())
      return std::nullopt;
    return found->second;
  };
}

struct FolderCase {
  const char *name;
  std::map<std::string, std::string> environment;
  const char *dataFolder;
  const char *configFolder;
};

class PathsFolders : public ::testing::TestWithParam<FolderCase> {};

TEST_P(PathsFolders, FollowEnvironment) {
  const FolderCase &c = GetParam();
  const Paths paths = Paths::Compute(Fake(c.environment), "/opt/velmora/bin/velmora");
  EXPECT_EQ(paths.dataFolder, c.dataFolder);
  EXPECT_EQ(paths.configFolder, c.configFolder);
  EXPECT_EQ(paths.settingsFile, std::string(c.configFolder) + "settings.db");
}

INSTANTIATE_TEST_SUITE_P(
    Rules, PathsFolders,
    ::testing::Values(
        FolderCase{
            "Defaults", {{"HOME", "/home/u"}}, "/home/u/.local/share/velmora/", "/home/u/.config/velmora/"},
        FolderCase{"Xdg",
                   {{"HOME", "/home/u"}, {"XDG_DATA_HOME", "/d"}, {"XDG_CONFIG_HOME", "/c/"}},
                   "/d/velmora/",
                   "/c/velmora/"},
        FolderCase{"RelativeXdgIgnored",
                   {{"HOME", "/home/u"}, {"XDG_DATA_HOME", "rel"}, {"XDG_CONFIG_HOME", ""}},
                   "/home/u/.local/share/velmora/",
                   "/home/u/.config/velmora/"},
        FolderCase{"OwnHomeWins",
                   {{"HOME", "/home/u"}, {"XDG_DATA_HOME", "/d"}, {"VELMORA_HOME", "/v/x/../w"}},
                   "/v/w/",
                   "/v/w/"}),
    [](const auto &caseInfo) { return std::string(caseInfo.param.name); });

TEST(Paths, FixedNamesLieInTheDataFolder) {
  const Paths paths = Paths::Compute(Fake({{"VELMORA_HOME", "/v"}}), "/opt/velmora/bin/velmora");
  EXPECT_EQ(paths.categoryFile, "/v/cat.dat");
  EXPECT_EQ(paths.translationsFolder, "/v/Translations");
  EXPECT_EQ(paths.defaultPartialDownloadsFolder, "/v/Partial Downloads");
  EXPECT_EQ(paths.mirrorListFile, "/v/mirrors.lst");
  EXPECT_EQ(paths.serverStatsFile, "/v/serverstats.txt");
  EXPECT_EQ(paths.pingStatisticsFile, "/v/StatisticsPing.html");
  EXPECT_EQ(paths.speedStatisticsFile, "/v/StatisticsSpeed.html");
  EXPECT_EQ(paths.lastUrlsFile, "/v/LastURLs");
  EXPECT_EQ(paths.helpFile, "/v/velmora.html");
  EXPECT_EQ(paths.runtimeFolder, "/v/run/");
  EXPECT_EQ(paths.shareFolder, "/opt/velmora/share/velmora/");
}

TEST(Paths, RuntimeFolderFromXdg) {
  EXPECT_EQ(Paths::Compute(Fake({{"HOME", "/h"}, {"XDG_RUNTIME_DIR", "/run/user/7"}}), "/x").runtimeFolder,
            "/run/user/7/velmora/");
}

TEST(Paths, DefaultSaveFolderFromUserDirs) {
  TempDir home;
  std::filesystem::create_directory(home.path() / ".config");
  const auto environment = Fake({{"HOME", home.path().string()}});
  const std::string dirs = home.file(".config/user-dirs.dirs");
  const std::string h = home.path().string();
  const struct {
    const char *contents;
    std::string expected;
  } cases[] = {
      {"# none\n", h + "/Downloads"},
      {"XDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOWNLOAD_DIR=\"$HOME/Herunterladen\"\n", h + "/Herunterladen"},
      {"XDG_DOWNLOAD_DIR=\"/data/dl/\"\n", "/data/dl"},
      {"XDG_DOWNLOAD_DIR=\"$HOME/\"\n", h + "/Downloads"},
      {"XDG_DOWNLOAD_DIR=\"relative\"\n", h + "/Downloads"},
      {"XDG_DOWNLOAD_DIR=\"$HOME/unclosed\n", h + "/Downloads"},
  };
  for (const auto &c : cases) {
    WriteWholeFile(dirs, c.contents);
    EXPECT_EQ(Paths::Compute(environment, "/x").defaultSaveFolder, c.expected) << c.contents;
  }
}

TEST(Paths, ShareFolderIsSourceDataInTheBuildTree) {
  const Paths paths = Paths::Compute(Fake({{"VELMORA_HOME", "/v"}}), velmora::platform::RunningProgramFile());
  EXPECT_EQ(paths.shareFolder, std::string(VELMORA_SOURCE_DIR) + "/data/");
  EXPECT_TRUE(std::filesystem::is_regular_file(paths.shareFolder + "Translations/de.vmt"));
}

TEST(ShippedFiles, CopiesOnlyWhatIsMissing) {
  TempDir dir;
  Paths paths = Paths::Compute(Fake({{"VELMORA_HOME", dir.file("home")}}), "/x");
  paths.shareFolder = dir.file("share") + "/";
  std::filesystem::create_directories(dir.path() / "share" / "Translations");
  WriteWholeFile(dir.file("share/mirrors.lst"), "shipped list");
  WriteWholeFile(dir.file("share/Translations/de.vmt"), "shipped de");
  ASSERT_TRUE(velmora::platform::CreateUserFolders(paths));
  struct stat info {};
  ASSERT_EQ(::stat(paths.dataFolder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  WriteWholeFile(paths.mirrorListFile, "user's own list");

  ASSERT_TRUE(InstallShippedFiles(paths));
  EXPECT_EQ(ReadWholeFile(paths.mirrorListFile), "user's own list");
  EXPECT_EQ(ReadWholeFile(paths.translationsFolder + "/de.vmt"), "shipped de");
}

TEST(ShippedFiles, MissingShareFolderIsReported) {
  TempDir dir;
  Paths paths = Paths::Compute(Fake({{"VELMORA_HOME", dir.file("home")}}), "/x");
  paths.shareFolder = dir.file("nowhere") + "/";
  const auto result = InstallShippedFiles(paths);
  EXPECT_FALSE(result);
  EXPECT_NE(result.error.find("nowhere"), std::string::npos);
}

} // namespace
