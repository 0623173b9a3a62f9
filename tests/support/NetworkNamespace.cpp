#include "support/NetworkNamespace.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace velmora::testing {

namespace {
std::atomic<int> namespaceCounter{0};
}

NetworkNamespace::NetworkNamespace()
    : name_("velmora-test-" + std::to_string(::getpid()) + "-" + std::to_string(++namespaceCounter)) {
  if (!run("ip netns add " + name_)) {
    error_ = "cannot create the network namespace " + name_ +
             " (needs root, i.e. CAP_SYS_ADMIN, and iproute2's ip on PATH)";
    return;
  }
  created_ = true;
  if (!run("ip -n " + name_ + " link set lo up"))
    error_ = "cannot bring up the loopback of " + name_;
}

NetworkNamespace::~NetworkNamespace() {
  if (created_)
    run("ip netns del " + name_);
}

bool NetworkNamespace::run(const std::string &command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

bool NetworkNamespace::setSysctl(const std::string &keyPath, const std::string &value) {
  return run("ip netns exec " + name_ + " sh -c 'echo \"" + value + "\" > /proc/sys/" + keyPath + "'");
}

EnteredNamespace::EnteredNamespace(const NetworkNamespace &space) {
  original_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  const int target = ::open(("/run/netns/" + space.name()).c_str(), O_RDONLY | O_CLOEXEC);
  if (original_ < 0 || target < 0 || ::setns(target, CLONE_NEWNET) != 0)
    error_ = "cannot enter the network namespace " + space.name() + ": " + std::strerror(errno);
  else
    entered_ = true;
  if (target >= 0)
    ::close(target);
}

EnteredNamespace::~EnteredNamespace() {
  if (entered_)
    ::setns(original_, CLONE_NEWNET);
  if (original_ >= 0)
    ::close(original_);
}

} // namespace velmora::testing
