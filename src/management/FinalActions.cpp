#include "management/FinalActions.h"

#include "shell/ReportError.h"
#include "store/SettingDefinitions.h"

namespace velmora {

void TFinalActions::Run(TRequest request) {
  GuardedVoid("procedure TDownloadSystem.OnAllDownloadsComplete", [&] {
    const TSettingsStore &settings = context_.Settings;
    const bool hangUp = context_.DialUp != nullptr &&
                        (request.HangUp || (ReadSetting(settings, setting::ConnectUsingDialUp) &&
                                            ReadSetting(settings, setting::DisconnectAfterDownload)));
    if (!hangUp) {
      Finish(request);
      return;
    }
    context_.DialUp->Disconnect([this, request = std::move(request), alive = std::weak_ptr<bool>(alive_)] {
      if (!alive.expired())
        Finish(request);
    });
  });
}

void TFinalActions::Finish(const TRequest &request) {
  GuardedVoid("procedure TDownloadSystem.OnAllDownloadsComplete", [&] {
    const auto done = [done = request.Done] {
      if (done)
        done();
    };
    // A download that started while the line was being hung up must not be cut off.
    if (request.AnyActive && request.AnyActive()) {
      done();
      return;
    }
    if (request.ShutdownWanted && request.ShutdownWanted() && context_.Shutdown != nullptr) {
      context_.Shutdown->WinExit([done, alive = std::weak_ptr<bool>(alive_)](bool) {
        if (!alive.expired())
          done();
      });
      return;
    }
    if (ReadSetting(context_.Settings, setting::AutoCloseAfterDownloads))
      context_.Ui.ExitProgram();
    done();
  });
}

} // namespace velmora
