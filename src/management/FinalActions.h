#pragma once

#include "management/DownloadSystemUi.h"
#include "management/ModemConnection.h"
#include "management/Shutdown.h"
#include "store/Registry.h"

#include <functional>
#include <memory>

namespace velmora {

// What happens after the last active download: the line hung up (when configured or asked for),
// then the machine shut down or the program closed. Each step may wait; a download that starts
// meanwhile is never cut off.
class TFinalActions {
public:
  struct TContext {
    const TSettingsStore &Settings;
    IDownloadSystemUi &Ui;
    IDialUpConnection *DialUp = nullptr; // none: nothing to hang up
    ISystemShutdown *Shutdown = nullptr; // none: the machine is never switched off
  };
  struct TRequest {
    bool HangUp = false;                  // whatever the settings say
    std::function<bool()> ShutdownWanted; // asked when the hang-up is over
    std::function<bool()> AnyActive;      // a download started meanwhile
    std::function<void()> Done;           // the final actions are over
  };

  explicit TFinalActions(TContext context) : context_(context) {}
  ~TFinalActions() { alive_.reset(); }
  TFinalActions(const TFinalActions &) = delete;
  TFinalActions &operator=(const TFinalActions &) = delete;

  void Run(TRequest request);

private:
  void Finish(const TRequest &request);

  TContext context_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace velmora
