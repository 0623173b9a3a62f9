#include "store/RecordSettings.h"

#include "platform/Paths.h"
#include "store/Registry.h"
#include "store/SettingDefinitions.h"

namespace velmora {

std::string PartialDownloadsDirectory(const TSettingsStore &settings, const platform::Paths &paths) {
  return ReadSetting(settings, setting::PartialDownloadsDirectory, paths.defaultPartialDownloadsFolder);
}

TCategoryDefaults CategoryDefaultsFromSettings(const TSettingsStore &settings) {
  return {!ReadSetting(settings, setting::ShowSaveDialog),
          ReadSetting(settings, setting::ShowCompletedDialog)};
}

} // namespace velmora
