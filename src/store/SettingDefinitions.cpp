#include "store/SettingDefinitions.h"

#include <algorithm>

namespace velmora {

int32_t ClampSetting(const TIntegerSetting &setting, int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, setting.Minimum, setting.Maximum));
}

int32_t ReadSetting(const TSettingsStore &settings, const TIntegerSetting &setting) {
  return ClampSetting(setting, settings.ReadInteger(setting.Section, setting.Name, setting.Default));
}

bool ReadSetting(const TSettingsStore &settings, const TBoolSetting &setting) {
  return settings.ReadBool(setting.Section, setting.Name, setting.Default);
}

std::string ReadSetting(const TSettingsStore &settings, const TStringSetting &setting) {
  return settings.ReadString(setting.Section, setting.Name, setting.Default);
}

std::string ReadSetting(const TSettingsStore &settings, const TStringSetting &setting,
                        std::string_view fallback) {
  return settings.ReadString(setting.Section, setting.Name, fallback);
}

} // namespace velmora
