#include "store/WindowGeometry.h"

#include "shell/ReportError.h"

#include <algorithm>

namespace velmora {

namespace {

constexpr int kMaxSize = 32767;
constexpr int kMaxEdge = 100000;

} // namespace

std::string TrimFormName(std::string s) {
  while (s.substr(s.size() < 4 ? 0 : s.size() - 4).find('_') != std::string::npos)
    s.pop_back();
  return s;
}

std::string PositionSection(const std::string &formName) { return TrimFormName(formName) + " Position"; }

void SavePosition(TSettingsStore &settings, const std::string &formName, const TWindowGeometry &window) {
  GuardedVoid("procedure SavePosition(Form : TForm)", [&] {
    const std::string section = PositionSection(formName);
    if (!window.Maximized && !window.Minimized) {
      settings.WriteInteger(section, "Top", window.Top);
      settings.WriteInteger(section, "Left", window.Left);
      settings.WriteInteger(section, "Height", window.Height);
      settings.WriteInteger(section, "Width", window.Width);
    }
    settings.WriteBool(section, "Maximized", window.Maximized);
    settings.WriteBool(section, "Minimized", !window.Maximized && window.Minimized);
  });
}

TWindowGeometry LoadPosition(const TSettingsStore &settings, const std::string &formName,
                             const TWindowGeometry &current, int minWidth, int minHeight) {
  TWindowGeometry loaded = current;
  GuardedVoid("procedure LoadPosition(Form : TForm)", [&] {
    const std::string section = PositionSection(formName);
    loaded.Top = std::clamp(settings.ReadInteger(section, "Top", current.Top), -kMaxEdge, kMaxEdge);
    loaded.Left = std::clamp(settings.ReadInteger(section, "Left", current.Left), -kMaxEdge, kMaxEdge);
    loaded.Height = std::clamp(settings.ReadInteger(section, "Height", current.Height), minHeight, kMaxSize);
    loaded.Width = std::clamp(settings.ReadInteger(section, "Width", current.Width), minWidth, kMaxSize);
    loaded.Maximized = settings.ReadBool(section, "Maximized", false);
  });
  return loaded;
}

TWindowGeometry MakeSureFormIsOnScreen(const TWindowGeometry &window,
                                       const std::vector<TScreenArea> &screens) {
  if (screens.empty())
    return window;
  for (const TScreenArea &screen : screens) {
    const long long right = static_cast<long long>(window.Left) + window.Width;
    const long long bottom = static_cast<long long>(window.Top) + window.Height;
    if (window.Left < screen.Left + screen.Width && window.Top < screen.Top + screen.Height &&
        right > screen.Left && bottom > screen.Top)
      return window;
  }
  TWindowGeometry moved = window;
  moved.Left = screens.front().Left + 1;
  moved.Top = screens.front().Top + 1;
  return moved;
}

std::string MakeTextFit(const std::string &s, int width,
                        const std::function<int(const std::string &)> &textWidth) {
  // A caption that fits as it is keeps every character, even where "..." would not fit beside it.
  if (textWidth(s) < width)
    return s;
  std::string text = s;
  const int ellipsis = textWidth("...");
  bool dropped = false;
  while (!text.empty() && textWidth(text) + ellipsis >= width) {
    // Continuation bytes belong to the character before them.
    std::size_t end = text.size() - 1;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
      --end;
    text.resize(end);
    dropped = true;
  }
  return dropped ? text + "..." : text;
}

} // namespace velmora
