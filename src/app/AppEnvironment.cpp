#include "app/AppEnvironment.h"

#include "platform/Environment.h"
#include "platform/ShippedFiles.h"

#include <clocale>

namespace velmora {

std::unique_ptr<TAppEnvironment> TAppEnvironment::Start() {
  // The user's decimal separator for shown numbers; files are written locale-free.
  static_cast<void>(std::setlocale(LC_NUMERIC, "")); // an unknown locale keeps "C"
  auto app = std::make_unique<TAppEnvironment>();
  app->Paths = platform::Paths::Compute(platform::SystemEnvironment(), platform::RunningProgramFile());
  const auto note = [&](const std::string &problem) {
    if (!problem.empty())
      app->Problems += problem + "\n";
  };
  if (const platform::FileResult made = platform::CreateUserFolders(app->Paths); !made)
    note(made.error);
  if (const platform::FileResult installed = platform::InstallShippedFiles(app->Paths); !installed)
    note(installed.error);
  platform::SettingsDatabase::OpenResult opened = platform::SettingsDatabase::Open(app->Paths.settingsFile);
  note(opened.problem);
  app->Database = std::move(opened.database);
  app->Settings = std::make_unique<TSettingsStore>(*app->Database);
  app->Translator = std::make_unique<TTranslator>(app->Paths.translationsFolder);
  app->Translator->LoadConfiguredTranslation(*app->Settings);
  app->Words = InitTranslatedConstants(app->Translator->AsFunction());
  return app;
}

} // namespace velmora
