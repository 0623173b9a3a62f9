#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace velmora::platform {

// A started program's process id, or why it could not be started.
struct StartedProgram {
  pid_t pid = -1;
  std::string error;
  explicit operator bool() const { return pid > 0; }
};

// Starts arguments[0] (looked up on PATH when it holds no "/") with exactly these arguments and
// returns without waiting. No shell sees them, so no character in them has a special meaning.
// The program gets a session of its own (a Ctrl-C in our terminal does not reach it), standard input
// from /dev/null, default signal handling and none of our descriptors beyond 0 to 2. A detached
// thread reaps it when it ends, so no zombie stays behind.
StartedProgram StartProgram(const std::vector<std::string> &arguments);

// Opens a document, folder or URL with the user's default application (xdg-open).
StartedProgram OpenWithDefaultApplication(const std::string &target);

} // namespace velmora::platform
