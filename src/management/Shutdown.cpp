#include "management/Shutdown.h"

#include "shell/ReportError.h"

#include <string>

namespace velmora {

void TWinReboot::WinExit(std::function<void(bool accepted)> done) {
  GuardedVoid("function TWinReboot.WinExit(flags : integer) : boolean", [&] {
    task_.Run<std::string>([power = power_] { return power->PowerOff(); },
                           [done = std::move(done)](const std::string &refusal) {
                             if (!refusal.empty())
                               ReportError("function TWinReboot.WinExit(flags : integer) : boolean", refusal);
                             if (done)
                               done(refusal.empty());
                           });
  });
}

} // namespace velmora
