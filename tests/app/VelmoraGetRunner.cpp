#include "app/VelmoraGetRunner.h"

#include "support/ChildProcess.h"

#include <csignal>
#include <thread>

namespace velmora::testing {

std::string RandomBytes(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
  for (char &byte : bytes) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    byte = static_cast<char>(state);
  }
  return bytes;
}

pid_t VelmoraGetRunner::Spawn(const std::vector<std::string> &arguments, const std::string &errorFile) {
  std::vector<std::string> words{VELMORA_GET_PROGRAM, "-q", "-d", out.path().string()};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<std::string> variables{"VELMORA_HOME=" + home.path().string(), "PATH=/usr/bin:/bin"};
  variables.insert(variables.end(), environment.begin(), environment.end());
  const pid_t pid = SpawnChild(words, &variables, {"", "", errorFile});
  EXPECT_GT(pid, 0) << "velmora-get did not start";
  return pid;
}

void VelmoraGetRunner::KillAfter(const std::vector<std::string> &arguments, std::chrono::milliseconds delay) {
  const pid_t pid = Spawn(arguments);
  if (pid <= 0)
    return; // kill(-1) would reach every process we may signal
  std::this_thread::sleep_for(delay);
  kill(pid, SIGKILL);
  EXPECT_EQ(Wait(pid), -SIGKILL);
}

int VelmoraGetRunner::Run(const std::vector<std::string> &arguments, std::string &errors) {
  const std::string errorFile = home.file("velmora-get.stderr");
  const int status = Wait(Spawn(arguments, errorFile));
  errors = ReadWholeFile(errorFile);
  return status;
}

int VelmoraGetRunner::Wait(pid_t pid, std::chrono::milliseconds deadline) {
  return WaitForChild(pid, deadline);
}

} // namespace velmora::testing
