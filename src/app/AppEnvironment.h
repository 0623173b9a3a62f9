#pragma once

#include "platform/Paths.h"
#include "platform/SettingsDatabase.h"
#include "shell/Constants.h"
#include "store/Registry.h"
#include "store/Translator.h"

#include <memory>
#include <string>

namespace velmora {

// What every entry point sets up before anything else: the user's folders with the shipped files,
// the settings store, the translation and the shared words translated with it.
struct TAppEnvironment {
  platform::Paths Paths;
  std::unique_ptr<platform::SettingsDatabase> Database;
  std::unique_ptr<TSettingsStore> Settings;
  std::unique_ptr<TTranslator> Translator;
  TConstants Words;
  // Problems the user should hear of (a damaged settings file moved aside, a folder not made).
  std::string Problems;

  static std::unique_ptr<TAppEnvironment> Start();
};

} // namespace velmora
