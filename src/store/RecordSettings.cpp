#include "store/RecordSettings.h"

#include "platform/Paths.h"
#include "store/Registry.h"

namespace velmora {

std::string PartialDownloadsDirectory(const TSettingsStore &settings, const platform::Paths &paths) {
  return settings.ReadString("Options", "PartialDownloadsDirectory", paths.defaultPartialDownloadsFolder);
}

TCategoryDefaults CategoryDefaultsFromSettings(const TSettingsStore &settings) {
  return {!settings.ReadBool("Options", "ShowSaveDialog", true),
          settings.ReadBool("Options", "ShowCompletedDialog", true)};
}

} // namespace velmora
