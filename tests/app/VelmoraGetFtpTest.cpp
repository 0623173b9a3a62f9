#include "support/FtpPeer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velmora {
namespace {

using namespace velmora::testing;

std::string FileBytes(std::size_t size, unsigned seed) {
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

// velmora-get fetching ftp:// addresses as a child process with a home folder of the test's own.
class VelmoraGetFtpTest : public ::testing::Test {
protected:
  pid_t Spawn(const std::vector<std::string> &arguments) {
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

  // The exit status, or -signal when a signal ended it; gives up (and kills it) after the deadline.
  static int Wait(pid_t pid, std::chrono::milliseconds deadline = std::chrono::seconds(60)) {
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

  int Run(const std::vector<std::string> &arguments) { return Wait(Spawn(arguments)); }

  TempDir home, out;
};

TEST_F(VelmoraGetFtpTest, EightPartsFromVsftpdAreByteExact) {
  VsftpdPeer vsftpd;
  const std::string content = FileBytes(3 * 1024 * 1024 + 5, 1);
  std::filesystem::create_directories(vsftpd.root() / "pub");
  WriteWholeFile(vsftpd.root() / "pub" / "eight.bin", content);
  ASSERT_EQ(Run({"-n", "8", vsftpd.url("/pub/eight.bin")}), 0);
  EXPECT_TRUE(ReadWholeFile(out.path() / "eight.bin") == content);
}

TEST_F(VelmoraGetFtpTest, KilledAtAnyPointItResumesToAByteExactFile) {
  PyftpdlibOptions throttled;
  throttled.user = "velmora";
  throttled.password = "s3cret";
  throttled.throttle = 64 * 1024; // per data connection, so each run ends somewhere else
  PyftpdlibPeer pyftpdlib(throttled);
  const std::string content = FileBytes(4 * 1024 * 1024 + 11, 2);
  std::filesystem::create_directories(pyftpdlib.root() / "pub");
  WriteWholeFile(pyftpdlib.root() / "pub" / "kill.bin", content);
  const std::string url = pyftpdlib.url("/pub/kill.bin");
  for (const int milliseconds : {30, 400, 900}) {
    const pid_t pid = Spawn({"-n", "8", url});
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    kill(pid, SIGKILL);
    EXPECT_EQ(Wait(pid), -SIGKILL);
  }
  ASSERT_EQ(Run({"-n", "8", url}), 0);
  EXPECT_TRUE(ReadWholeFile(out.path() / "kill.bin") == content);
}

} // namespace
} // namespace velmora
