#include "platform/Spawn.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>

extern char **environ;

namespace velmora::platform {

namespace {

// posix_spawn's attribute objects, freed on every path out.
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
  int prepare(int outputFd) {
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
    if (outputFd >= 0) {
      if (const int error = posix_spawn_file_actions_adddup2(&actions_, outputFd, 1))
        return error;
      if (const int error = posix_spawn_file_actions_adddup2(&actions_, outputFd, 2))
        return error;
    }
    return posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
  }

  int spawn(const std::vector<std::string> &arguments, pid_t &pid) {
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

} // namespace

int SpawnProgram(const std::vector<std::string> &arguments, pid_t &pid, int outputFd) {
  if (arguments.empty() || arguments.front().empty())
    return EINVAL;
  SpawnSetup setup;
  int error = setup.prepare(outputFd);
  if (error == 0)
    error = setup.spawn(arguments, pid);
  return error;
}

} // namespace velmora::platform
