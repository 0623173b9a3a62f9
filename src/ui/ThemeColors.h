#pragma once

#include "shell/Constants.h"
#include "store/Registry.h"

#include <QColor>
#include <QPalette>

namespace velmora {

// The colours of the theme named by ColorTheme, each read from its own key with the theme's default.
TThemeColors LoadThemeColors(const TSettingsStore &settings);
// A stored colour on screen: 0x00BBGGRR, or 0x80000000 + n mapped to a role of the palette.
QColor ToQColor(TColor color, const QPalette &palette);

} // namespace velmora
