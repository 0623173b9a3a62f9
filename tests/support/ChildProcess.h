#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace velmora::testing {

// Where a child's standard streams go; an empty name keeps the test's own.
struct ChildFiles {
  std::string input;
  std::string output; // written afresh
  std::string error;  // written afresh; the same name as output shares that file
};

// Starts arguments[0] (a path) with the rest as its arguments, in environment (NAME=VALUE
// entries), or in the test's own when it is null. -1 when it could not be started.
pid_t SpawnChild(const std::vector<std::string> &arguments, const std::vector<std::string> *environment,
                 const ChildFiles &files = {});

// The exit status, or -signal when a signal ended it; -1000 when it had to be killed after the
// deadline, or was never started (pid -1).
int WaitForChild(pid_t pid, std::chrono::milliseconds deadline);

// For files that must survive a crash while they are saved. save(version) writes version 0 or 1
// of the file and says whether it could; the file as each version leaves it is taken first. Then,
// five times, a forked child saves the two in turn until it is killed with SIGKILL in the middle
// of a save, and the file must hold one version whole. afterKill runs after each round (to clear
// what the kill left behind).
void ExpectSavingSurvivesKill(const std::string &file, const std::function<bool(int)> &save,
                              const std::function<void()> &afterKill = {});

} // namespace velmora::testing
