#include "store/RecordSettings.h"

#include "platform/Paths.h"
#include "platform/SettingsDatabase.h"
#include "store/Registry.h"

#include <gtest/gtest.h>

using namespace velmora;

namespace {

TEST(RecordSettings, PartialDownloadsFolderFollowsTheSettingOrTheDataFolder) {
  const auto database = platform::SettingsDatabase::OpenInMemory();
  TSettingsStore settings(*database);
  platform::Paths paths;
  paths.defaultPartialDownloadsFolder = "/home/me/.local/share/velmora/Partial Downloads";
  EXPECT_EQ(PartialDownloadsDirectory(settings, paths), paths.defaultPartialDownloadsFolder);
  paths.defaultPartialDownloadsFolder = "/moved/velmora/Partial Downloads";
  EXPECT_EQ(PartialDownloadsDirectory(settings, paths), "/moved/velmora/Partial Downloads");
  settings.WriteString("Options", "PartialDownloadsDirectory", "/srv/partial");
  EXPECT_EQ(PartialDownloadsDirectory(settings, paths), "/srv/partial");
  settings.WriteString("Options", "PartialDownloadsDirectory", "");
  EXPECT_EQ(PartialDownloadsDirectory(settings, paths), "/moved/velmora/Partial Downloads");
}

TEST(RecordSettings, CategoryDefaults) {
  const auto database = platform::SettingsDatabase::OpenInMemory();
  TSettingsStore settings(*database);
  struct Case {
    bool showSaveDialog, showCompletedDialog;
  };
  const TCategoryDefaults untouched = CategoryDefaultsFromSettings(settings);
  EXPECT_FALSE(untouched.AutoSave);
  EXPECT_TRUE(untouched.ShowCompleteDialog);
  for (const Case &c : {Case{false, false}, Case{true, false}, Case{false, true}}) {
    settings.WriteBool("Options", "ShowSaveDialog", c.showSaveDialog);
    settings.WriteBool("Options", "ShowCompletedDialog", c.showCompletedDialog);
    const TCategoryDefaults defaults = CategoryDefaultsFromSettings(settings);
    EXPECT_EQ(defaults.AutoSave, !c.showSaveDialog);
    EXPECT_EQ(defaults.ShowCompleteDialog, c.showCompletedDialog);
  }
}

} // namespace
