#pragma once

#include "management/BackgroundTask.h"
#include "platform/EventLoop.h"
#include "platform/PowerOff.h"

#include <functional>
#include <memory>

namespace velmora {

// What the download system needs when the last download has ended and the user asked for it: the
// machine shut down and powered off. done gets whether the system accepted, on the loop thread,
// never inside the call.
class ISystemShutdown {
public:
  virtual ~ISystemShutdown() = default;
  virtual void WinExit(std::function<void(bool accepted)> done) = 0;
};

// Shuts the machine down and powers it off through the system's power service, without forcing
// other programs to close. The request runs on a worker thread; a refusal is reported
// (ReportError) and the program keeps running.
class TWinReboot : public ISystemShutdown {
public:
  TWinReboot(platform::EventLoop &loop, std::shared_ptr<platform::ISystemPower> power)
      : power_(std::move(power)), task_(loop) {}

  void WinExit(std::function<void(bool accepted)> done) override;

private:
  std::shared_ptr<platform::ISystemPower> power_;
  TBackgroundTask task_;
};

} // namespace velmora
