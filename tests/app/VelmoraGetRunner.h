#pragma once

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace velmora::testing {

// Bytes that differ at every offset, so a part that lands in the wrong place never passes.
std::string RandomBytes(std::size_t size, unsigned seed);

// velmora-get as a child process, saving into out() with a home folder of the test's own.
class VelmoraGetRunner : public ::testing::Test {
protected:
  // errorFile: where standard error goes; empty: the test's own.
  pid_t Spawn(const std::vector<std::string> &arguments, const std::string &errorFile = "");
  // The exit status, or -signal when a signal ended it; -1000 when it had to be killed after the
  // deadline.
  static int Wait(pid_t pid, std::chrono::milliseconds deadline = std::chrono::seconds(90));
  int Run(const std::vector<std::string> &arguments) { return Wait(Spawn(arguments)); }
  // Starts it and kills it with SIGKILL after delay, as a crash would end it.
  void KillAfter(const std::vector<std::string> &arguments, std::chrono::milliseconds delay);
  // Run, with what the program wrote to standard error in errors.
  int Run(const std::vector<std::string> &arguments, std::string &errors);

  TempDir home, out;
  // Added to the program's environment, as NAME=value.
  std::vector<std::string> environment;
};

} // namespace velmora::testing
