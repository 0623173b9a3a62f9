#include "ui/ThemeColors.h"

#include <string>

namespace velmora {

TThemeColors LoadThemeColors(const TSettingsStore &settings) {
  const int32_t theme = settings.ReadInteger("Options", "ColorTheme", 0);
  const std::string word = theme == 0 ? "Standard" : theme == 1 ? "Velm" : "Custom";
  const TThemeColors &defaults = theme == 0 ? kStandardTheme : theme == 1 ? kVelmTheme : kCustomTheme;
  const auto read = [&](const char *slot, TColor fallback) {
    return static_cast<TColor>(
        settings.ReadInteger("Options", word + "_Color_" + slot, static_cast<int32_t>(fallback)));
  };
  return {read("Background", defaults.Background), read("Downloading", defaults.Downloading),
          read("Paused", defaults.Paused),         read("Done", defaults.Done),
          read("Error", defaults.Error),           read("Other", defaults.Other)};
}

QColor ToQColor(TColor color, const QPalette &palette) {
  if ((color & kSystemColor) == 0)
    return QColor(static_cast<int>(color & 0xFF), static_cast<int>((color >> 8) & 0xFF),
                  static_cast<int>((color >> 16) & 0xFF));
  switch (color & 0xFF) {
  case 5:
    return palette.color(QPalette::Base);
  case 17:
    return palette.color(QPalette::Disabled, QPalette::Text);
  case 15:
    return palette.color(QPalette::Button);
  case 13:
    return palette.color(QPalette::Highlight);
  case 10:
    return palette.color(QPalette::Highlight).darker(120);
  case 8:
    return palette.color(QPalette::Text);
  default:
    return palette.color(QPalette::WindowText);
  }
}

} // namespace velmora
