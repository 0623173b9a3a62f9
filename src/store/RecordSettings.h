#pragma once

#include "store/Category.h"

#include <string>

namespace velmora {

namespace platform {
struct Paths;
}

class TSettingsStore;

// The partial-downloads folder, read each time it is needed: the setting PartialDownloadsDirectory
// of section "Options", else the default folder below the data folder, so moving the data folder
// moves the default while a set folder stays where it points.
std::string PartialDownloadsDirectory(const TSettingsStore &settings, const platform::Paths &paths);

// The flags of a category made now: AutoSave is the opposite of ShowSaveDialog, ShowCompleteDialog
// follows ShowCompletedDialog (both default true).
TCategoryDefaults CategoryDefaultsFromSettings(const TSettingsStore &settings);

} // namespace velmora
