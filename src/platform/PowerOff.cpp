#include "platform/PowerOff.h"

#include "platform/RunCommand.h"

namespace velmora::platform {

std::string SystemdPower::PowerOff() {
  // --no-ask-password: no terminal prompt may hold the request; the policy answers at once.
  const CommandResult result = RunCommand({systemctl_, "--no-ask-password", "poweroff"}, timeoutMs_);
  return result.succeeded() ? std::string() : result.failureText(systemctl_);
}

} // namespace velmora::platform
