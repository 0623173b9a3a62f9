#include "platform/Process.h"

#include "platform/Spawn.h"
#include "platform/SystemError.h"

#include <cerrno>
#include <sys/wait.h>
#include <thread>

namespace velmora::platform {

namespace {

void ReapWhenItEnds(pid_t pid) {
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

} // namespace

StartedProgram StartProgram(const std::vector<std::string> &arguments) {
  if (arguments.empty() || arguments.front().empty())
    return {-1, "Cannot start a program without a name"};
  pid_t pid = -1;
  if (const int error = SpawnProgram(arguments, pid))
    return {-1, DescribeSystemError("Cannot start", arguments.front(), error)};
  ReapWhenItEnds(pid);
  return {pid, {}};
}

StartedProgram OpenWithDefaultApplication(const std::string &target) {
  // xdg-open would take a leading "-" for one of its options; "./" keeps a relative name a name.
  const bool looksLikeOption = !target.empty() && target.front() == '-';
  return StartProgram({"xdg-open", looksLikeOption ? "./" + target : target});
}

} // namespace velmora::platform
