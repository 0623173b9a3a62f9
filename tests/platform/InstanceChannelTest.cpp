#include "platform/InstanceChannel.h"
#include "support/LoopRunner.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace velmora::platform {
namespace {

using testing::RunUntil;
using testing::TempDir;

class InstanceChannelTest : public ::testing::Test {
protected:
  ~InstanceChannelTest() override {
    listener.reset();
    for (int i = 0; i < 5; ++i)
      loop.runOnce(0);
    EXPECT_EQ(loop.registeredCount(), 0u);
  }
  std::string runtime() const { return dir.file("run"); }
  // Listens in this process, keeping every message handed over.
  void Listen(InstanceListener::Limits limits = {}) {
    InstanceStart start = StartInstance(loop, runtime(), {}, {}, limits);
    ASSERT_EQ(start.Role, InstanceRole::Alone) << start.Error;
    listener = std::move(start.Listener);
    listener->SetHandler([this](const InstanceMessage &message) { received.push_back(message); });
  }
  // A second copy in a child process; its exit status is 0 when it handed over.
  pid_t SecondCopy(const std::string &argument) {
    const pid_t child = fork();
    if (child == 0) {
      EventLoop childLoop;
      const InstanceStart start = StartInstance(childLoop, runtime(), {argument, "token-1"});
      _exit(start.Role == InstanceRole::HandedOver ? 0 : start.Role == InstanceRole::Alone ? 2 : 1);
    }
    return child;
  }
  int Status(pid_t child) {
    int status = 0;
    // The listener must run while the child waits for its answer.
    EXPECT_TRUE(RunUntil(
        loop, [&] { return waitpid(child, &status, WNOHANG) == child; }, 15000));
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  int RawClient() {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = runtime() + "/instance.sock";
    std::strcpy(address.sun_path, path.c_str());
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    return fd;
  }

  TempDir dir;
  EventLoop loop;
  std::unique_ptr<InstanceListener> listener;
  std::vector<InstanceMessage> received;
};

TEST_F(InstanceChannelTest, SecondCopiesHandOverTheirArgumentEvenEmptyOnes) {
  Listen();
  struct Case {
    std::string argument, expected;
  };
  const std::vector<Case> cases = {
      {"http://127.0.0.1/f.bin", "http://127.0.0.1/f.bin"},
      {"", ""},
      {std::string("ab\0cd", 5), "ab"}, // cut at the first NUL
  };
  for (const Case &c : cases) {
    received.clear();
    EXPECT_EQ(Status(SecondCopy(c.argument)), 0);
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].Argument, c.expected);
    EXPECT_EQ(received[0].ActivationToken, "token-1");
  }
}

TEST_F(InstanceChannelTest, FolderIsMadePrivateAndUnsafeFoldersAreRefused) {
  InstanceStart first = StartInstance(loop, runtime(), {});
  ASSERT_EQ(first.Role, InstanceRole::Alone) << first.Error;
  struct stat status {};
  ASSERT_EQ(stat(runtime().c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0700u);
  first.Listener.reset();

  const std::string open = dir.file("open"), link = dir.file("link"), foreign = dir.file("foreign");
  mkdir(open.c_str(), 0755);
  chmod(open.c_str(), 0755);
  symlink(runtime().c_str(), link.c_str());
  std::string other = "/"; // owned by root: another owner unless we are root
  if (getuid() == 0) {
    mkdir(foreign.c_str(), 0700);
    ASSERT_EQ(chown(foreign.c_str(), 65534, 65534), 0);
    other = foreign;
  }
  for (const std::string &folder : {open, link, other}) {
    const InstanceStart refused = StartInstance(loop, folder, {"x", ""});
    EXPECT_EQ(refused.Role, InstanceRole::Failed) << folder;
    EXPECT_FALSE(refused.Error.empty());
    EXPECT_FALSE(std::filesystem::exists(folder + "/instance.sock")) << folder;
  }
}

TEST_F(InstanceChannelTest, StaleSocketOfAKilledCopyIsReplaced) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  if (child == 0) {
    EventLoop childLoop;
    InstanceStart start = StartInstance(childLoop, runtime(), {});
    const char byte = start.Role == InstanceRole::Alone ? 1 : 0;
    (void)write(ready[1], &byte, 1);
    for (;;)
      pause();
  }
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  ASSERT_EQ(byte, 1);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(ready[0]);
  close(ready[1]);
  ASSERT_TRUE(std::filesystem::exists(runtime() + "/instance.sock"));
  Listen();
  EXPECT_EQ(Status(SecondCopy("http://h/a")), 0);
  ASSERT_EQ(received.size(), 1u);
}

TEST_F(InstanceChannelTest, OversizedAndMalformedMessagesAreDroppedAndSilentClientsHoldUpNobody) {
  Listen({.ReadTimeoutMs = 300});
  // Too long for a frame: the second copy says so and sends nothing.
  EXPECT_EQ(Status(SecondCopy(std::string(70 * 1024, 'a'))), 1);
  // A hand-crafted 70 KiB frame and a wrong magic are dropped without an answer.
  const int big = RawClient();
  std::string frame = "VLMR";
  frame.push_back(1);
  const uint32_t length = 70 * 1024;
  for (int shift = 24; shift >= 0; shift -= 8)
    frame.push_back(static_cast<char>((length >> shift) & 0xFF));
  frame += std::string(length, 'b');
  std::thread writer([&] { (void)send(big, frame.data(), frame.size(), MSG_NOSIGNAL); });
  const int wrong = RawClient();
  ASSERT_EQ(send(wrong, "HELLO", 5, MSG_NOSIGNAL), 5);
  const int silent = RawClient();
  // The silent client does not hold up the next copy.
  EXPECT_EQ(Status(SecondCopy("ftp://h/b")), 0);
  writer.join();
  char answer = 0;
  EXPECT_TRUE(RunUntil(
      loop, [&] { return recv(wrong, &answer, 1, MSG_DONTWAIT) == 0; }, 3000));
  EXPECT_TRUE(RunUntil(
      loop, [&] { return recv(silent, &answer, 1, MSG_DONTWAIT) == 0; }, 3000));
  EXPECT_TRUE(RunUntil(
      loop, [&] { return recv(big, &answer, 1, MSG_DONTWAIT) <= 0 && errno != EAGAIN; }, 3000));
  for (int fd : {big, wrong, silent})
    close(fd);
  ASSERT_EQ(received.size(), 1u);
  EXPECT_EQ(received[0].Argument, "ftp://h/b");
}

TEST_F(InstanceChannelTest, HandOversBeforeTheHandlerIsSetAreQueued) {
  InstanceStart start = StartInstance(loop, runtime(), {});
  ASSERT_EQ(start.Role, InstanceRole::Alone);
  listener = std::move(start.Listener);
  EXPECT_EQ(Status(SecondCopy("http://h/early")), 0);
  listener->SetHandler([this](const InstanceMessage &message) { received.push_back(message); });
  EXPECT_TRUE(RunUntil(
      loop, [&] { return received.size() == 1; }, 3000));
  EXPECT_EQ(received[0].Argument, "http://h/early");
}

TEST_F(InstanceChannelTest, EightStartsAtOnceGiveOneListenerAndSevenDeliveries) {
  constexpr int kCopies = 8;
  std::vector<pid_t> children;
  for (int i = 0; i < kCopies; ++i) {
    const pid_t child = fork();
    if (child == 0) {
      EventLoop childLoop;
      InstanceStart start = StartInstance(childLoop, runtime(), {"http://h/" + std::to_string(i), ""});
      if (start.Role != InstanceRole::Alone)
        _exit(start.Role == InstanceRole::HandedOver ? 0 : 1);
      int count = 0;
      start.Listener->SetHandler([&](const InstanceMessage &) { ++count; });
      RunUntil(
          childLoop, [&] { return count == kCopies - 1; }, 15000);
      start.Listener.reset();
      _exit(100 + count);
    }
    children.push_back(child);
  }
  std::vector<int> statuses;
  for (pid_t child : children) {
    int status = 0;
    waitpid(child, &status, 0);
    statuses.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  }
  EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 0), kCopies - 1);
  EXPECT_EQ(std::count(statuses.begin(), statuses.end(), 100 + kCopies - 1), 1);
}

} // namespace
} // namespace velmora::platform
