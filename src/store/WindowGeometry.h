#pragma once

#include "store/Registry.h"

#include <functional>
#include <string>
#include <vector>

namespace velmora {

// A window's place in logical pixels, and its state.
struct TWindowGeometry {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  bool Maximized = false, Minimized = false;
  friend bool operator==(const TWindowGeometry &, const TWindowGeometry &) = default;
};

// A screen's available area (without panels) in logical pixels.
struct TScreenArea {
  int Left = 0, Top = 0, Width = 0, Height = 0;
};

// The component name without a trailing numeric suffix: "Form_Download_12" gives "Form_Download".
std::string TrimFormName(std::string s);
// The settings section of a kind of window.
std::string PositionSection(const std::string &formName);

// Writes the keys of the window's state; the coordinates only in the normal state, so a
// maximised window keeps its last normal place.
void SavePosition(TSettingsStore &settings, const std::string &formName, const TWindowGeometry &window);
// The stored place with current's values as defaults; damaged values are clamped: sizes to at
// least minWidth x minHeight and at most 32767, edges within +-100000.
TWindowGeometry LoadPosition(const TSettingsStore &settings, const std::string &formName,
                             const TWindowGeometry &current, int minWidth = 1, int minHeight = 1);
// The window where it is when it overlaps any present screen, else at (1, 1) of the primary
// screen's available area. screens[0] is the primary screen; no screens: unchanged.
TWindowGeometry MakeSureFormIsOnScreen(const TWindowGeometry &window,
                                       const std::vector<TScreenArea> &screens);

// The caption shortened with "..." to fit width: while the text's width plus that of "..." is not
// less than width, its last character goes (whole UTF-8 characters); unchanged when it fits.
std::string MakeTextFit(const std::string &s, int width,
                        const std::function<int(const std::string &)> &textWidth);

} // namespace velmora
