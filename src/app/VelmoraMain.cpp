#include "app/AppEnvironment.h"
#include "app/GetEngine.h"
#include "app/GuiPlatform.h"
#include "app/TerminationSignals.h"
#include "management/ModemConnection.h"
#include "management/Shutdown.h"
#include "platform/Environment.h"
#include "platform/InstanceChannel.h"
#include "platform/PointToPointLinks.h"
#include "platform/PowerOff.h"
#include "store/Categories.h"
#include "store/RecordSettings.h"
#include "ui/EventLoopBridge.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char **argv) {
  using namespace velmora;
  const std::string argument = argc > 1 ? argv[1] : "";
  const platform::Environment environment = platform::SystemEnvironment();
  const auto app = TAppEnvironment::Start();
  if (!app->Problems.empty())
    std::fputs(app->Problems.c_str(), stderr);
  TCategoryList categories(app->Paths.categoryFile,
                           {!app->Settings->ReadBool("Options", "ShowSaveDialog", true),
                            app->Settings->ReadBool("Options", "ShowCompletedDialog", true)});
  auto engine = std::make_unique<TGetEngine>(*app, TGetOptions{});
  engine->RecordContext.Categories = &categories;

  platform::InstanceStart instance = platform::StartInstance(engine->Loop, app->Paths.runtimeFolder,
                                                             {argument, ActivationToken(environment)});
  if (instance.Role == platform::InstanceRole::HandedOver)
    return 0;
  if (instance.Role == platform::InstanceRole::Failed) {
    // Never a second download system on the same records.
    std::fprintf(stderr, "velmora: %s\n", instance.Error.c_str());
    return 1;
  }
  if (argument == "/uninstall" || argument == "--uninstall") {
    std::fputs("velmora: nothing of Velmora is registered with the desktop yet\n", stderr);
    return 0;
  }

  // Where browsers' helpers find the program.
  app->Settings->SetProgramPath(app->Paths.programFile);
  if (const std::string platformName = ChooseQtPlatform(environment); !platformName.empty())
    setenv("QT_QPA_PLATFORM", platformName.c_str(), 1);
  TForm_Main *window = nullptr;
  // Before Qt starts its threads: they must not take the signals.
  TTerminationSignals termination(engine->Loop, [&window] {
    if (window != nullptr) {
      window->Lifecycle.SessionEnding = true;
      window->close();
    }
  });
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Velmora"));
  QApplication::setQuitOnLastWindowClosed(false);
  TEventLoopBridge bridge(engine->Loop);
  auto modem =
      std::make_unique<TModemConnection>(engine->Loop, std::make_shared<platform::LinuxPointToPointLinks>());
  auto shutdown = std::make_unique<TWinReboot>(engine->Loop, std::make_shared<platform::SystemdPower>());
  TMainWindowContext context{
      engine->Loop,
      *app->Settings,
      app->Words,
      *app->Translator,
      categories,
      PartialDownloadsDirectory(*app->Settings, app->Paths),
      [&](IDownloadSystemUi &ui) {
        return std::make_unique<TDownloadSystem>(TDownloadSystemContext{
            engine->Loop, *app->Settings, app->Words, engine->RecordContext, engine->DownloaderContext, ui,
            app->Paths.defaultSaveFolder, &engine->Statistics, modem.get(), shutdown.get()});
      },
      [&](const std::string &url) {
        return std::make_unique<TLocalDownloadinfo>(TUrl(url), "", engine->RecordContext);
      }};
  auto form = std::make_unique<TForm_Main>(std::move(context));
  window = form.get();
  form->WMMYMSG();
  // From here on hand-overs are acted on, those that came meanwhile first.
  instance.Listener->SetHandler(
      [&form](const platform::InstanceMessage &message) { form->HandleArgument(message.Argument); });
  // Timer1: the command line's address a moment after the window is up.
  QTimer argumentTimer;
  argumentTimer.setSingleShot(true);
  QObject::connect(&argumentTimer, &QTimer::timeout, form.get(),
                   [&form, argument] { form->HandleArgument(argument); });
  argumentTimer.start(250);
  const int status = QApplication::exec();
  // Windows first, then the download system with them, then what the loop serves.
  window = nullptr;
  instance.Listener.reset();
  form.reset();
  shutdown.reset();
  modem.reset();
  engine->Loop.runOnce(0);
  return status;
}
