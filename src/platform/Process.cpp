#include "platform/Process.h"

#include "platform/SystemError.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char **environ;

namespace velmora::platform {

namespace {

// Frees posix_spawn's attribute objects on every path out.
class SpawnSetup {
public:
  SpawnSetup() {
    posix_spawnattr_init(&attributes_);
    posix_spawn_file_actions_init(&actions_);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup &) = delete;
  SpawnSetup &operator=(const SpawnSetup &) = delete;

  // 0 or the error number of the first step that failed.
  int prepare() {
    sigset_t noSignals;
    sigemptyset(&noSignals);
    // Signals we ignore or block (SIGPIPE for sockets, for one) would otherwise stay so in the child.
    sigset_t resetSignals;
    sigemptyset(&resetSignals);
    for (const int signal : {SIGPIPE, SIGXFSZ, SIGCHLD, SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2})
      sigaddset(&resetSignals, signal);
    const short flags = POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (const int error = posix_spawnattr_setflags(&attributes_, flags))
      return error;
    if (const int error = posix_spawnattr_setsigmask(&attributes_, &noSignals))
      return error;
    if (const int error = posix_spawnattr_setsigdefault(&attributes_, &resetSignals))
      return error;
    if (const int error = posix_spawn_file_actions_addopen(&actions_, 0, "/dev/null", O_RDONLY, 0))
      return error;
    return posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
  }

  int spawn(pid_t &pid, const std::vector<std::string> &arguments) {
    std::vector<char *> argv;
    argv.reserve(arguments.size() + 1);
    for (const std::string &argument : arguments)
      argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    return posix_spawnp(&pid, argv[0], &actions_, &attributes_, argv.data(), environ);
  }

private:
  posix_spawnattr_t attributes_;
  posix_spawn_file_actions_t actions_;
};

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
  SpawnSetup setup;
  pid_t pid = -1;
  int error = setup.prepare();
  if (error == 0)
    error = setup.spawn(pid, arguments);
  if (error != 0)
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
