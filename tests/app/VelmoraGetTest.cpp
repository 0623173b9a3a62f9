#include "app/VelmoraGetRunner.h"
#include "support/NetworkNamespace.h"
#include "support/PeerServers.h"
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

using testing::EnteredNamespace;
using testing::NetworkNamespace;
using testing::NginxPeer;
using testing::RandomBytes;
using testing::ReadWholeFile;
using testing::TempDir;
using testing::WriteWholeFile;

class VelmoraGetTest : public testing::VelmoraGetRunner {
protected:
  NginxPeer nginx;
};

TEST_F(VelmoraGetTest, KilledAtAnyPointItResumesToAByteExactFile) {
  const std::string content = RandomBytes(4 * 1024 * 1024 + 11, 1);
  WriteWholeFile(nginx.filesFolder() / "kill.bin", content);
  const std::string url = nginx.url("/slow/kill.bin");
  // The throttled server makes each run end somewhere else: before the split, mid-parts, later.
  for (const int milliseconds : {30, 400, 900, 1500}) {
    SCOPED_TRACE(std::to_string(milliseconds) + " ms");
    KillAfter({"-n", "8", url}, std::chrono::milliseconds(milliseconds));
  }
  ASSERT_EQ(Run({"-n", "8", url}), 0);
  EXPECT_TRUE(ReadWholeFile(out.path() / "kill.bin") == content);
}

TEST_F(VelmoraGetTest, CtrlCPausesAndTheSameCommandFinishes) {
  const std::string content = RandomBytes(1024 * 1024, 2);
  WriteWholeFile(nginx.filesFolder() / "pause.bin", content);
  const std::string url = nginx.url("/slow/pause.bin");
  const pid_t pid = Spawn({url});
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  kill(pid, SIGINT);
  EXPECT_EQ(Wait(pid), 130);
  EXPECT_FALSE(std::filesystem::exists(out.path() / "pause.bin"));
  ASSERT_EQ(Run({url}), 0);
  EXPECT_TRUE(ReadWholeFile(out.path() / "pause.bin") == content);
}

// A join that failed leaves every part file complete: the same command joins them, asking nothing.
TEST_F(VelmoraGetTest, AfterAFailedJoinTheSameCommandFinishes) {
  const std::string content = RandomBytes(700 * 1024 + 5, 7);
  WriteWholeFile(nginx.filesFolder() / "rejoin.bin", content);
  const std::string url = nginx.url("/files/rejoin.bin");
  // A folder in the final file's place makes the join fail.
  std::filesystem::create_directory(out.path() / "rejoin.bin");
  ASSERT_EQ(Run({"-n", "4", url}), 1);
  std::filesystem::remove(out.path() / "rejoin.bin");
  const std::size_t requests = nginx.accessLog().size();
  ASSERT_EQ(Wait(Spawn({"-n", "4", url}), std::chrono::seconds(20)), 0);
  EXPECT_TRUE(ReadWholeFile(out.path() / "rejoin.bin") == content);
  EXPECT_EQ(nginx.accessLog().size(), requests) << "nothing was left to fetch";
}

// The same command in two terminals: the second leaves the download to the first.
TEST_F(VelmoraGetTest, ASecondProcessOnTheSameDownloadIsRefused) {
  const std::string content = RandomBytes(2 * 1024 * 1024 + 1, 8);
  WriteWholeFile(nginx.filesFolder() / "twice.bin", content);
  const std::string url = nginx.url("/slow/twice.bin");
  const pid_t first = Spawn({"-n", "4", url});
  const std::filesystem::path partial = home.path() / "Partial Downloads";
  const auto recordSaved = [&] {
    std::error_code error;
    for (std::filesystem::directory_iterator it(partial, error), end; !error && it != end;
         it.increment(error))
      if (it->path().extension() == ".dat")
        return true;
    return false;
  };
  for (int i = 0; i < 500 && !recordSaved(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(recordSaved());
  std::string errors;
  EXPECT_EQ(Run({"-n", "4", url}, errors), 1);
  EXPECT_EQ(errors, "velmora-get: This download is in use by another Velmora process.\n");
  ASSERT_EQ(Wait(first), 0);
  EXPECT_TRUE(ReadWholeFile(out.path() / "twice.bin") == content);
}

TEST_F(VelmoraGetTest, EightPartsFromTwoMirrorsAreByteExact) {
  NginxPeer mirror;
  const std::string content = RandomBytes(1536 * 1024, 3);
  WriteWholeFile(nginx.filesFolder() / "two.bin", content);
  WriteWholeFile(mirror.filesFolder() / "two.bin", content);
  ASSERT_EQ(Run({"-n", "8", "-m", mirror.url("/slow/two.bin"), nginx.url("/slow/two.bin")}), 0);
  EXPECT_TRUE(ReadWholeFile(out.path() / "two.bin") == content);
}

// Whether the server answered a ranged request (206) for path. A server logs a request when it
// notices its end, which may come a moment after ours.
bool ServedARange(const NginxPeer &peer, const std::string &path) {
  const auto served = [&] {
    const std::string log = peer.accessLog();
    for (std::size_t at = log.find(path); at != std::string::npos; at = log.find(path, at + 1)) {
      const std::size_t end = log.find('\n', at);
      if (log.substr(at, end - at).find("\" 206 ") != std::string::npos)
        return true;
    }
    return false;
  };
  for (int i = 0; i < 300 && !served(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return served();
}

// Its servers live in a network namespace of the test's own, so it has no fixture server outside it.
class VelmoraGetMirrorsTest : public testing::VelmoraGetRunner {};

TEST_F(VelmoraGetMirrorsTest, AStoppedMirrorLeavesTheDownloadByteExactWithThePartsOnTheOthers) {
  // A measured mirror keeps taking parts while the others are still unmeasured, so the parts spread
  // only when every mirror has the same ping time at the split. Inside a namespace where no echo is
  // answered every mirror stays at 9999 (no reply), however the pings and the split interleave.
  NetworkNamespace space;
  ASSERT_TRUE(space.created()) << space.error();
  ASSERT_TRUE(space.setSysctl("net/ipv4/icmp_echo_ignore_all", "1"));
  EnteredNamespace inside(space);
  ASSERT_TRUE(inside.entered()) << inside.error();

  NginxPeer own("127.0.0.1"), second("127.0.0.2");
  auto third = std::make_unique<NginxPeer>("127.0.0.3");
  const std::string content = RandomBytes(1536 * 1024, 5);
  for (const NginxPeer *peer : {&own, &second, third.get()})
    WriteWholeFile(peer->filesFolder() / "spread.bin", content);
  const std::string stopped = third->url("/slow/spread.bin");
  third.reset();
  ASSERT_EQ(
      Run({"-n", "8", "-m", second.url("/slow/spread.bin"), "-m", stopped, own.url("/slow/spread.bin")}), 0);
  EXPECT_TRUE(ReadWholeFile(out.path() / "spread.bin") == content);
  EXPECT_TRUE(ServedARange(own, "/slow/spread.bin")) << own.accessLog();
  EXPECT_TRUE(ServedARange(second, "/slow/spread.bin")) << second.accessLog();
}

TEST_F(VelmoraGetTest, StatisticsPagesAreWrittenAfterADownload) {
  WriteWholeFile(nginx.filesFolder() / "small.bin", RandomBytes(4096, 6));
  ASSERT_EQ(Run({nginx.url("/files/small.bin")}), 0);
  ASSERT_EQ(Run({"--stats"}), 0);
  for (const char *page : {"StatisticsPing.html", "StatisticsSpeed.html"})
    EXPECT_NE(ReadWholeFile(home.path() / page).find("<html"), std::string::npos) << page;
}

TEST_F(VelmoraGetTest, AServerRefusingRangesGivesAOnePartDownload) {
  const std::string content = RandomBytes(900 * 1024, 4);
  WriteWholeFile(nginx.filesFolder() / "whole.bin", content);
  ASSERT_EQ(Run({"-n", "8", nginx.url("/norange/whole.bin")}), 0);
  EXPECT_TRUE(ReadWholeFile(out.path() / "whole.bin") == content);
}

TEST_F(VelmoraGetTest, FailuresEndWithTheirStatusAndANonZeroExit) {
  struct Case {
    std::string url;
    int exit;
  };
  const std::vector<Case> cases = {
      {nginx.url("/files/missing.bin"), 1},
      {"http://127.0.0.1:1/refused.bin", 1},
      {"gopher://127.0.0.1/x", 2},
      {"http:///nohost", 2},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Run({c.url}), c.exit) << c.url;
}

} // namespace
} // namespace velmora
