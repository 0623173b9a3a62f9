#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace velmora::testing {

namespace {

// The NULL-terminated vector exec wants, pointing into words.
std::vector<char *> Pointers(std::vector<std::string> &words) {
  std::vector<char *> pointers;
  for (std::string &word : words)
    pointers.push_back(word.data());
  pointers.push_back(nullptr);
  return pointers;
}

// A forked child calls save(0), save(1), ... and is killed with SIGKILL soon after save(readyAfter),
// so the kill lands in one of the saves that follow; a save that fails ends it with status 2.
void KillWhileSaving(const std::function<bool(int)> &save, int readyAfter) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ready[0]);
    for (int i = 0; i < 1000000; ++i) {
      if (!save(i))
        _exit(2);
      if (i == readyAfter)
        (void)!write(ready[1], "x", 1);
    }
    _exit(0);
  }
  close(ready[1]);
  pollfd waitReady{ready[0], POLLIN, 0};
  const int readyCount = poll(&waitReady, 1, 20000);
  kill(child, SIGKILL);
  const int status = WaitForChild(child, std::chrono::seconds(10));
  close(ready[0]);
  ASSERT_EQ(readyCount, 1) << "the child never got as far as save " << readyAfter;
  ASSERT_EQ(status, -SIGKILL);
}

} // namespace

pid_t SpawnChild(const std::vector<std::string> &arguments, const std::vector<std::string> *environment,
                 const ChildFiles &files) {
  std::vector<std::string> words = arguments;
  std::vector<std::string> entries = environment != nullptr ? *environment : std::vector<std::string>();
  std::vector<char *> argv = Pointers(words);
  std::vector<char *> envp = Pointers(entries);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  constexpr int kWritten = O_WRONLY | O_CREAT | O_TRUNC;
  if (!files.input.empty())
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, files.input.c_str(), O_RDONLY, 0);
  if (!files.output.empty())
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, files.output.c_str(), kWritten, 0600);
  if (!files.error.empty() && files.error == files.output)
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  else if (!files.error.empty())
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, files.error.c_str(), kWritten, 0600);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(),
                                  environment != nullptr ? envp.data() : environ);
  posix_spawn_file_actions_destroy(&actions);
  return spawned == 0 ? pid : -1;
}

int WaitForChild(pid_t pid, std::chrono::milliseconds deadline) {
  if (pid <= 0)
    return -1000;
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

void ExpectSavingSurvivesKill(const std::string &file, const std::function<bool(int)> &save,
                              const std::function<void()> &afterKill) {
  std::string versions[2];
  for (int version = 0; version < 2; ++version) {
    ASSERT_TRUE(save(version));
    versions[version] = ReadWholeFile(file);
  }
  for (int round = 0; round < 5; ++round) {
    ASSERT_NO_FATAL_FAILURE(KillWhileSaving([&](int i) { return save(i % 2); }, 20 + round * 7));
    const std::string left = ReadWholeFile(file);
    EXPECT_TRUE(left == versions[0] || left == versions[1]) << left;
    if (afterKill)
      afterKill();
  }
}

} // namespace velmora::testing
