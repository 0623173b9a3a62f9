#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velmora::platform {

// What became of a program run to its end.
struct CommandResult {
  bool started = false;
  bool timedOut = false; // it was still running at the deadline and has been killed
  int exitStatus = -1;   // its exit code when it exited by itself, else -1
  std::string output;    // standard output and standard error together, cut at the bound
  std::string error;     // why it could not be started
  int startError = 0;    // the error number when it could not be started (ENOENT: not installed)

  bool succeeded() const { return started && !timedOut && exitStatus == 0; }
  // The reason for a failure in words, for reports: the error, the time-out or the exit status
  // with the program's own last words.
  std::string failureText(const std::string &program) const;
};

// Runs arguments[0] (looked up on PATH when it holds no "/") with exactly these arguments, never
// through a shell, and waits at most timeoutMs for it to end; a program still running then is
// killed with its whole process group. Standard input is /dev/null, so a program that would ask
// a question gets end of file; at most maxOutput bytes of its output are kept. This blocks: call
// it from a worker thread, never from the loop thread.
CommandResult RunCommand(const std::vector<std::string> &arguments, uint32_t timeoutMs,
                         std::size_t maxOutput = std::size_t{64} * 1024);

} // namespace velmora::platform
