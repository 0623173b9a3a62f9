#include "store/SettingDefinitions.h"

#include "platform/SettingsDatabase.h"

#include <gtest/gtest.h>

#include <optional>
#include <set>

using namespace velmora;

namespace {

TEST(SettingDefinitions, ReadsGiveTheDefaultOrAValueWithinTheRange) {
  auto database = platform::SettingsDatabase::OpenInMemory();
  TSettingsStore settings(*database);
  struct Case {
    TIntegerSetting setting;
    std::optional<int32_t> stored;
    int32_t read;
  };
  const Case cases[] = {
      {setting::SplitParts, std::nullopt, 4},
      {setting::SplitParts, 0, 1},
      {setting::SplitParts, -5, 1},
      {setting::SplitParts, 1000000, 64},
      {setting::SplitParts, 8, 8},
      {setting::MaxSimultaneousDownloads, std::nullopt, 3},
      {setting::MaxSimultaneousDownloads, 0, 1},
      {setting::RetryTimes, -1, 0},
      {setting::RetryDelay, -30, 0},
      {setting::TimeOutTime, -1, 0},
      {setting::MirrorTimeOutTime, std::nullopt, 10000},
      {setting::SmallestSplitSize, std::nullopt, 100},
  };
  for (const Case &c : cases) {
    if (c.stored)
      settings.WriteInteger(c.setting.Section, c.setting.Name, *c.stored);
    EXPECT_EQ(ReadSetting(settings, c.setting), c.read) << c.setting.Name;
  }
  EXPECT_EQ(ClampSetting(setting::SplitParts, int64_t{1} << 40), 64) << "a number from the command line";
  EXPECT_TRUE(ReadSetting(settings, setting::TryLocalMirrorlist));
  settings.WriteBool("Options", "TryLocalMirrorlist", false);
  EXPECT_FALSE(ReadSetting(settings, setting::TryLocalMirrorlist));
  EXPECT_EQ(ReadSetting(settings, setting::DefaultDownloadDirectory, "/home/u/Downloads"),
            "/home/u/Downloads");
}

TEST(SettingDefinitions, EveryNumberHasOneDefinitionWithItsDefaultInRange) {
  std::set<std::string_view> names;
  for (const TIntegerSetting &s : setting::kIntegerSettings) {
    EXPECT_TRUE(names.insert(s.Name).second) << s.Name;
    EXPECT_LE(s.Minimum, s.Default) << s.Name;
    EXPECT_LE(s.Default, s.Maximum) << s.Name;
  }
}

} // namespace
