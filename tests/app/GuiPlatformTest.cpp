#include "app/GuiPlatform.h"

#include <gtest/gtest.h>

#include <map>

namespace velmora {
namespace {

platform::Environment Of(std::map<std::string, std::string> values) {
  return [values](const std::string &name) -> std::optional<std::string> {
    const auto found = values.find(name);
    return found == values.end() ? std::nullopt : std::optional<std::string>(found->second);
  };
}

TEST(GuiPlatform, WaylandWithXWaylandPicksXcbUnlessTheUserChose) {
  struct Case {
    std::map<std::string, std::string> environment;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {{{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}}, "xcb"},
      {{{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ":0"}, {"QT_QPA_PLATFORM", "wayland"}}, ""},
      {{{"WAYLAND_DISPLAY", "wayland-0"}}, ""}, // no XWayland: native Wayland
      {{{"DISPLAY", ":0"}}, ""},
      {{{"WAYLAND_DISPLAY", "wayland-0"}, {"DISPLAY", ""}}, ""},
  };
  for (const Case &c : cases)
    EXPECT_EQ(ChooseQtPlatform(Of(c.environment)), c.expected);
  EXPECT_EQ(ActivationToken(Of({{"DESKTOP_STARTUP_ID", "b"}, {"XDG_ACTIVATION_TOKEN", "a"}})), "a");
  EXPECT_EQ(ActivationToken(Of({{"DESKTOP_STARTUP_ID", "b"}})), "b");
  EXPECT_EQ(ActivationToken(Of({})), "");
}

} // namespace
} // namespace velmora
