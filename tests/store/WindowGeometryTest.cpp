#include "store/WindowGeometry.h"
#include "platform/SettingsDatabase.h"
#include "store/Registry.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(WindowGeometry, TrimFormName) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"Form_Main", "Form_Main"},
      {"Form_Download_2", "Form_Download"},
      {"Form_Download_123", "Form_Download"},
      {"Form_Download_1234", "Form_Download_1234"},
      {"Form_AddURL", "Form_AddURL"},
      {"a_b", "a"},
      {"", ""}};
  for (const auto &[name, trimmed] : cases)
    EXPECT_EQ(TrimFormName(name), trimmed) << name;
}

TEST(WindowGeometry, MaximisedWindowKeepsItsNormalPlaceAndDamagedValuesAreClamped) {
  auto database = platform::SettingsDatabase::OpenInMemory();
  TSettingsStore settings(*database);
  SavePosition(settings, "Form_Download_3", {10, 20, 500, 300, false, false});
  SavePosition(settings, "Form_Download_4", {0, 0, 1920, 1080, true, false});
  const TWindowGeometry loaded = LoadPosition(settings, "Form_Download", {1, 1, 100, 100}, 400, 200);
  EXPECT_EQ(loaded, (TWindowGeometry{10, 20, 500, 300, true, false}));
  settings.WriteInteger("Form_Main Position", "Width", -5);
  settings.WriteInteger("Form_Main Position", "Height", 99999999);
  settings.WriteInteger("Form_Main Position", "Left", -2000000000);
  const TWindowGeometry clamped = LoadPosition(settings, "Form_Main", {269, 103, 623, 432}, 400, 200);
  EXPECT_EQ(clamped, (TWindowGeometry{-100000, 103, 400, 32767, false, false}));
}

TEST(WindowGeometry, OnScreenOverEveryScreen) {
  const std::vector<TScreenArea> two = {{0, 30, 1920, 1050}, {1920, 0, 1280, 1024}};
  struct Case {
    std::string name;
    TWindowGeometry window;
    std::vector<TScreenArea> screens;
    int left, top;
  };
  const std::vector<Case> cases = {
      {"on the primary screen", {100, 100, 600, 400}, two, 100, 100},
      {"on a present second screen", {2500, 200, 600, 400}, two, 2500, 200},
      {"on a second screen that is gone", {2500, 200, 600, 400}, {two[0]}, 1, 31},
      {"partly above the primary", {100, -350, 600, 400}, two, 100, -350},
      {"entirely left of every screen", {-700, 100, 600, 400}, two, 1, 31},
      {"no screens known", {-700, 100, 600, 400}, {}, -700, 100},
  };
  for (const Case &c : cases) {
    const TWindowGeometry placed = MakeSureFormIsOnScreen(c.window, c.screens);
    EXPECT_EQ(placed.Left, c.left) << c.name;
    EXPECT_EQ(placed.Top, c.top) << c.name;
  }
}

TEST(WindowGeometry, MakeTextFit) {
  // One pixel per byte, so widths are plain to read.
  const auto width = [](const std::string &text) { return static_cast<int>(text.size()); };
  struct Case {
    std::string text;
    int width;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"Options...", 20, "Options..."}, // fits: unchanged
      {"Scheduler", 10, "Scheduler"},   // fits, though not with "..." beside it
      {"Scheduler", 8, "Sche..."},
      {"Scheduler", 3, "..."},
      {"Scheduler", 0, "..."},
      {"Scheduler", -40, "..."},
      {"", 0, ""},
      {"\xC3\xA4\xC3\xA4\xC3\xA4x", 7, "\xC3\xA4..."}, // whole characters, never half of one
  };
  for (const Case &c : cases)
    EXPECT_EQ(MakeTextFit(c.text, c.width, width), c.expected) << c.text << " in " << c.width;
}

} // namespace
} // namespace velmora
