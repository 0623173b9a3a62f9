#include "app/VelmoraGetRunner.h"
#include "net/ScriptedServer.h"
#include "platform/SettingsDatabase.h"
#include "store/Registry.h"
#include "support/PeerServers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <set>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velmora {
namespace {

using testing::NginxPeer;
using testing::ReadWholeFile;
using testing::TempDir;
using testing::WriteWholeFile;

std::string Bytes(std::size_t size, char seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>(seed + static_cast<char>(i * 7 % 251));
  return bytes;
}

// velmora-get with several URLs, as a child process with a home folder of the test's own.
class VelmoraGetQueueTest : public testing::VelmoraGetRunner {
protected:
  VelmoraGetQueueTest() {
    // Quick retries, so a test waits seconds, not minutes.
    auto opened = platform::SettingsDatabase::Open((home.path() / "settings.db").string());
    TSettingsStore settings(*opened.database);
    settings.WriteInteger("Options", "RetryDelay", 1);
    settings.WriteInteger("Options", "RetryTimes", 4);
  }

  // The status of every record file left in the partial-downloads folder.
  std::multiset<std::string> StatusesOnDisk() const {
    std::multiset<std::string> statuses;
    for (const auto &entry : std::filesystem::directory_iterator(home.path() / "Partial Downloads")) {
      if (entry.path().extension() != ".dat")
        continue;
      std::istringstream lines(ReadWholeFile(entry.path()));
      for (std::string line; std::getline(lines, line);)
        if (line.starts_with("Status="))
          statuses.insert(line.substr(7));
    }
    return statuses;
  }
};

// The most files nginx was serving at any one moment, from its log of "$msec $request_time $uri":
// each file is busy from the start of its first request to the end of its last one.
int MostFilesAtOnce(const std::string &log) {
  std::map<std::string, std::pair<double, double>> busy;
  std::istringstream lines(log);
  double end = 0, duration = 0;
  std::string uri;
  while (lines >> end >> duration >> uri) {
    auto [entry, added] = busy.try_emplace(uri, end - duration, end);
    entry->second.first = std::min(entry->second.first, end - duration);
    entry->second.second = std::max(entry->second.second, end);
  }
  int most = 0;
  for (const auto &[name, span] : busy) {
    int together = 0;
    for (const auto &[other, otherSpan] : busy)
      together += otherSpan.first <= span.first && span.first < otherSpan.second ? 1 : 0;
    most = std::max(most, together);
  }
  return most;
}

TEST_F(VelmoraGetQueueTest, FiveDownloadsTwoAtATimeAreByteExact) {
  NginxPeer nginx;
  std::vector<std::string> arguments{"-j", "2", "-n", "2"};
  for (int i = 0; i < 5; ++i) {
    const std::string name = "q" + std::to_string(i) + ".bin";
    WriteWholeFile(nginx.filesFolder() / name,
                   Bytes(std::size_t{160} * 1024 + static_cast<std::size_t>(i), static_cast<char>(i)));
    arguments.push_back(nginx.url("/slow/" + name));
  }
  ASSERT_EQ(Run(arguments), 0);
  for (int i = 0; i < 5; ++i) {
    const std::string name = "q" + std::to_string(i) + ".bin";
    EXPECT_TRUE(ReadWholeFile(out.path() / name) == ReadWholeFile(nginx.filesFolder() / name)) << name;
  }
  const std::string log = ReadWholeFile(nginx.filesFolder().parent_path().parent_path() / "timed.log");
  EXPECT_EQ(MostFilesAtOnce(log), 2) << log;
}

TEST_F(VelmoraGetQueueTest, AServerFailingThreeTimesIsRetriedToSuccess) {
  const std::string body = Bytes(70000, 'r');
  const testing::Script refusal{
      testing::ReadRequest(), testing::Send("HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n\r\n"),
      testing::CloseConnection()};
  const testing::Script success{
      testing::ReadRequest(),
      testing::Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body),
      testing::CloseConnection()};
  testing::ScriptedServer server({refusal, refusal, refusal, success}, 60000);
  NginxPeer nginx;
  WriteWholeFile(nginx.filesFolder() / "other.bin", Bytes(50000, 'o'));
  const std::string flaky = "http://127.0.0.1:" + std::to_string(server.port()) + "/flaky.bin";
  ASSERT_EQ(Run({"-j", "2", flaky, nginx.url("/files/other.bin")}), 0);
  EXPECT_TRUE(ReadWholeFile(out.path() / "flaky.bin") == body);
  EXPECT_TRUE(ReadWholeFile(out.path() / "other.bin") == Bytes(50000, 'o'));
  EXPECT_EQ(server.requests().size(), 4u);
}

TEST_F(VelmoraGetQueueTest, ADownloadThatGivesUpMakesTheRunFailWhileTheOthersFinish) {
  NginxPeer nginx;
  WriteWholeFile(nginx.filesFolder() / "here.bin", Bytes(30000, 'h'));
  {
    auto opened = platform::SettingsDatabase::Open((home.path() / "settings.db").string());
    TSettingsStore(*opened.database).WriteInteger("Options", "RetryTimes", 1);
  }
  EXPECT_EQ(Run({nginx.url("/files/gone.bin"), nginx.url("/files/here.bin")}), 1);
  EXPECT_TRUE(ReadWholeFile(out.path() / "here.bin") == Bytes(30000, 'h'));
  EXPECT_FALSE(std::filesystem::exists(out.path() / "gone.bin"));
}

TEST_F(VelmoraGetQueueTest, CtrlCPausesTheQueueAndTheSameCommandFinishesIt) {
  NginxPeer nginx;
  std::vector<std::string> arguments{"-j", "2"};
  for (int i = 0; i < 3; ++i) {
    const std::string name = "c" + std::to_string(i) + ".bin";
    WriteWholeFile(nginx.filesFolder() / name, Bytes(std::size_t{300} * 1024, static_cast<char>('c' + i)));
    arguments.push_back(nginx.url("/slow/" + name));
  }
  const pid_t pid = Spawn(arguments);
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  kill(pid, SIGINT);
  EXPECT_EQ(Wait(pid), 130);
  EXPECT_FALSE(std::filesystem::exists(out.path() / "c2.bin")) << "the queued one did not start";
  EXPECT_EQ(StatusesOnDisk(), (std::multiset<std::string>{"Paused", "Paused", "Paused"}));
  ASSERT_EQ(Run(arguments), 0);
  for (int i = 0; i < 3; ++i) {
    const std::string name = "c" + std::to_string(i) + ".bin";
    EXPECT_TRUE(ReadWholeFile(out.path() / name) == ReadWholeFile(nginx.filesFolder() / name)) << name;
  }
}

TEST_F(VelmoraGetQueueTest, SameNamesFromTwoServersGetFilesOfTheirOwn) {
  NginxPeer first, second;
  WriteWholeFile(first.filesFolder() / "same.bin", "first");
  WriteWholeFile(second.filesFolder() / "same.bin", "second");
  ASSERT_EQ(Run({first.url("/files/same.bin"), second.url("/files/same.bin")}), 0);
  EXPECT_EQ(ReadWholeFile(out.path() / "same.bin"), "first");
  EXPECT_EQ(ReadWholeFile(out.path() / "same(1).bin"), "second");
}

} // namespace
} // namespace velmora
