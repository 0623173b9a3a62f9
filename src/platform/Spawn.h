#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace velmora::platform {

// Starts arguments[0] (looked up on PATH when it holds no "/") with exactly these arguments, never
// through a shell, set up as every program we start is: a session of its own, standard input from
// /dev/null, no blocked signals and default handling of those we change, and none of our
// descriptors beyond 0 to 2. With outputFd >= 0 its standard output and error go there.
// Returns 0 and sets pid, or the error number of the step that failed.
int SpawnProgram(const std::vector<std::string> &arguments, pid_t &pid, int outputFd = -1);

} // namespace velmora::platform
