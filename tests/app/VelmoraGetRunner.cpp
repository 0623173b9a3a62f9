#include "app/VelmoraGetRunner.h"

#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
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

pid_t VelmoraGetRunner::Spawn(const std::vector<std::string> &arguments) {
  std::vector<std::string> words{VELMORA_GET_PROGRAM, "-q", "-d", out.path().string()};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char *> argv;
  for (std::string &word : words)
    argv.push_back(word.data());
  argv.push_back(nullptr);
  std::vector<std::string> environment{"VELMORA_HOME=" + home.path().string(), "PATH=/usr/bin:/bin"};
  std::vector<char *> envp;
  for (std::string &entry : environment)
    envp.push_back(entry.data());
  envp.push_back(nullptr);
  pid_t pid = -1;
  EXPECT_EQ(posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), envp.data()), 0);
  return pid;
}

int VelmoraGetRunner::Wait(pid_t pid, std::chrono::milliseconds deadline) {
  const auto until = std::chrono::steady_clock::now() + deadline;
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > until) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return -1000;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

} // namespace velmora::testing
