#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace velmora::platform {

// Switching the machine off. The call may block while the system decides: call it from a worker
// thread.
class ISystemPower {
public:
  virtual ~ISystemPower() = default;
  // Asks the system to shut down and power off, letting running programs close normally; empty
  // when the request was accepted, else why not.
  virtual std::string PowerOff() = 0;
};

// logind through `systemctl poweroff`: the system's own policy decides whether this user may, and
// programs holding a shutdown inhibitor are respected.
class SystemdPower : public ISystemPower {
public:
  explicit SystemdPower(std::string systemctl = "systemctl", uint32_t timeoutMs = 30000)
      : systemctl_(std::move(systemctl)), timeoutMs_(timeoutMs) {}

  std::string PowerOff() override;

private:
  std::string systemctl_;
  uint32_t timeoutMs_;
};

} // namespace velmora::platform
