#include "platform/RunCommand.h"

#include "platform/Spawn.h"
#include "platform/SystemError.h"
#include "platform/Tick.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace velmora::platform {

namespace {

// The read end of the output pipe and the child's process id, released on every path out.
class Child {
public:
  Child() = default;
  ~Child() {
    if (readFd_ >= 0)
      ::close(readFd_);
  }
  Child(const Child &) = delete;
  Child &operator=(const Child &) = delete;

  // 0 or the error number of the step that failed.
  int start(const std::vector<std::string> &arguments) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
      return errno;
    readFd_ = fds[0];
    const int error = SpawnProgram(arguments, pid_, fds[1]);
    ::close(fds[1]);
    if (error != 0)
      pid_ = -1;
    return error;
  }

  // Reads the output until the program closes it or the deadline passes; false on the deadline.
  bool readOutput(std::string &output, std::size_t maxOutput, uint64_t deadline) {
    char buffer[4096];
    for (;;) {
      const uint64_t now = MonotonicMilliseconds();
      if (now >= deadline)
        return false;
      pollfd watched{readFd_, POLLIN, 0};
      const int ready = ::poll(&watched, 1, static_cast<int>(deadline - now));
      if (ready < 0 && errno == EINTR)
        continue;
      if (ready == 0)
        return false;
      if (ready < 0)
        return true; // nothing more can be read; the wait for the end decides
      const ssize_t got = ::read(readFd_, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR)
        continue;
      if (got <= 0)
        return true;
      // Beyond the bound the output is drained and dropped, so the program never blocks on it.
      const std::size_t room = maxOutput - std::min(maxOutput, output.size());
      output.append(buffer, std::min(room, static_cast<std::size_t>(got)));
    }
  }

  // Waits for the end until the deadline; false when the program is still running then.
  bool waitUntil(uint64_t deadline, int &status) {
    for (;;) {
      const pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_ || (done < 0 && errno != EINTR))
        return true;
      if (MonotonicMilliseconds() >= deadline)
        return false;
      ::usleep(10 * 1000);
    }
  }

  void kill() {
    // The program leads a session of its own, so this reaches whatever it started too.
    ::kill(-pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }

private:
  int readFd_ = -1;
  pid_t pid_ = -1;
};

} // namespace

std::string CommandResult::failureText(const std::string &program) const {
  if (!started)
    return error;
  if (timedOut)
    return program + " did not finish in time";
  std::string text = program + " ended with status " + std::to_string(exitStatus);
  const auto end = output.find_last_not_of(" \n\r\t");
  if (end != std::string::npos) {
    const auto newline = output.find_last_of('\n', end);
    const std::size_t from = newline == std::string::npos ? 0 : newline + 1;
    text += ": " + output.substr(from, end + 1 - from);
  }
  return text;
}

CommandResult RunCommand(const std::vector<std::string> &arguments, uint32_t timeoutMs,
                         std::size_t maxOutput) {
  CommandResult result;
  if (arguments.empty() || arguments.front().empty()) {
    result.error = "Cannot run a program without a name";
    return result;
  }
  Child child;
  if (const int error = child.start(arguments)) {
    result.startError = error;
    result.error = DescribeSystemError("Cannot start", arguments.front(), error);
    return result;
  }
  result.started = true;
  const uint64_t deadline = MonotonicMilliseconds() + timeoutMs;
  int status = 0;
  if (!child.readOutput(result.output, maxOutput, deadline) || !child.waitUntil(deadline, status)) {
    child.kill();
    result.timedOut = true;
    return result;
  }
  if (WIFEXITED(status))
    result.exitStatus = WEXITSTATUS(status);
  return result;
}

} // namespace velmora::platform
