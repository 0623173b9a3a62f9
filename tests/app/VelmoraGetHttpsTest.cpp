#include "app/VelmoraGetRunner.h"
#include "support/PeerServers.h"
#include "support/TlsPeers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace velmora {
namespace {

using testing::NginxTlsPeer;
using testing::RandomBytes;
using testing::ReadWholeFile;
using testing::SquidPeer;
using testing::WriteWholeFile;

class VelmoraGetHttpsTest : public testing::VelmoraGetRunner {
protected:
  std::vector<std::string> Trusting(std::vector<std::string> arguments) const {
    arguments.insert(arguments.begin(), {"--ca-certificate", nginx.caFile().string()});
    return arguments;
  }
  // The statuses of the record files velmora-get left for url.
  std::string RecordStatuses(const std::string &url) const {
    std::string statuses;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(home.path())) {
      if (entry.path().extension() != ".dat")
        continue;
      const std::string text = ReadWholeFile(entry.path());
      if (text.find("URL=" + url + "\n") == std::string::npos)
        continue;
      std::istringstream lines(text);
      for (std::string line; std::getline(lines, line);)
        if (line.starts_with("Status="))
          statuses += line.substr(7) + ";";
    }
    return statuses;
  }
  // How many requests nginx logged with a resumed session and with a full handshake.
  std::pair<int, int> Handshakes(const std::string &path) const {
    int resumed = 0, full = 0;
    std::istringstream lines(nginx.sessionLog());
    for (std::string line; std::getline(lines, line);)
      if (line.ends_with(" " + path))
        ++(line.starts_with("r ") ? resumed : full);
    return {resumed, full};
  }

  NginxTlsPeer nginx;
};

TEST_F(VelmoraGetHttpsTest, EightPartsAreByteExactWithOneFullHandshake) {
  const std::string content = RandomBytes(3 * 1024 * 1024 + 5, 11);
  WriteWholeFile(nginx.filesFolder() / "eight.bin", content);
  ASSERT_EQ(Run(Trusting({"-n", "8", nginx.url("/slow/eight.bin")})), 0);
  EXPECT_TRUE(ReadWholeFile(out.path() / "eight.bin") == content);
  // nginx logs a request when it notices its end, which may come a moment after ours.
  for (int i = 0; i < 300 && Handshakes("/slow/eight.bin").first + Handshakes("/slow/eight.bin").second < 8;
       ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const auto [resumed, full] = Handshakes("/slow/eight.bin");
  EXPECT_EQ(full, 1) << nginx.sessionLog();
  EXPECT_GE(resumed, 7) << nginx.sessionLog();
}

TEST_F(VelmoraGetHttpsTest, ABadCertificateFailsWithoutAFileAndInsecureFetchesIt) {
  struct Case {
    NginxTlsPeer::Server server;
    std::string reason;
  };
  const Case cases[] = {
      {NginxTlsPeer::expired, "certificate has expired"},
      {NginxTlsPeer::otherName, "IP address mismatch"},
      {NginxTlsPeer::selfSigned, "self-signed certificate"},
      {NginxTlsPeer::unknownCa, "unable to get local issuer certificate"},
  };
  const std::string content = RandomBytes(600 * 1024, 12);
  WriteWholeFile(nginx.filesFolder() / "bad.bin", content);
  for (const Case &c : cases) {
    SCOPED_TRACE(c.reason);
    std::string errors;
    EXPECT_EQ(Run(Trusting({"-n", "4", nginx.url("/files/bad.bin", c.server)}), errors), 1);
    EXPECT_NE(errors.find("Certificate not trusted"), std::string::npos) << errors;
    EXPECT_NE(errors.find(c.reason), std::string::npos) << errors;
    EXPECT_FALSE(std::filesystem::exists(out.path() / "bad.bin"));
    const std::string statuses = RecordStatuses(nginx.url("/files/bad.bin", c.server));
    EXPECT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.find("Done"), std::string::npos) << statuses;

    ASSERT_EQ(Run({"--insecure", "-n", "4", nginx.url("/files/bad.bin", c.server)}, errors), 0);
    EXPECT_NE(errors.find("--insecure"), std::string::npos) << errors;
    EXPECT_TRUE(ReadWholeFile(out.path() / "bad.bin") == content);
    std::filesystem::remove(out.path() / "bad.bin");
  }
}

TEST_F(VelmoraGetHttpsTest, KilledDuringAnHttpsDownloadItResumesToAByteExactFile) {
  // 256 KiB/s a connection: 8 parts of this take about 3 s, so each kill lands somewhere else.
  const std::string content = RandomBytes(6 * 1024 * 1024 + 3, 13);
  WriteWholeFile(nginx.filesFolder() / "kill.bin", content);
  const std::string url = nginx.url("/slow/kill.bin");
  for (const int milliseconds : {30, 400, 1500})
    KillAfter(Trusting({"-n", "8", url}), std::chrono::milliseconds(milliseconds));
  ASSERT_EQ(Run(Trusting({"-n", "8", url})), 0);
  EXPECT_TRUE(ReadWholeFile(out.path() / "kill.bin") == content);
}

TEST_F(VelmoraGetHttpsTest, RedirectsAndTheProxyTunnel) {
  SquidPeer squid;
  const std::string content = RandomBytes(1024 * 1024 + 7, 14);
  WriteWholeFile(nginx.filesFolder() / "moved.bin", content);
  ASSERT_EQ(Run(Trusting({"-n", "4", nginx.url("/to-https/moved.bin", NginxTlsPeer::plain)})), 0);
  EXPECT_TRUE(ReadWholeFile(out.path() / "moved.bin") == content);
  std::filesystem::remove(out.path() / "moved.bin");

  ASSERT_EQ(Run(Trusting({"-n", "4", nginx.url("/to-http/moved.bin")})), 0);
  EXPECT_TRUE(ReadWholeFile(out.path() / "moved.bin") == content);
  std::filesystem::remove(out.path() / "moved.bin");

  // An https mirror by name beside the server by address.
  const std::string byName = "https://localhost:" + std::to_string(nginx.port()) + "/files/moved.bin";
  ASSERT_EQ(Run(Trusting({"-n", "4", "-m", byName, nginx.url("/files/moved.bin")})), 0);
  EXPECT_TRUE(ReadWholeFile(out.path() / "moved.bin") == content);
  std::filesystem::remove(out.path() / "moved.bin");
  const std::string proxy = "http://127.0.0.1:" + std::to_string(squid.port());
  ASSERT_EQ(Run(Trusting({"-n", "4", "--proxy", proxy, nginx.url("/files/moved.bin")})), 0);
  EXPECT_TRUE(ReadWholeFile(out.path() / "moved.bin") == content);
  std::filesystem::remove(out.path() / "moved.bin");

  std::string errors;
  const std::string guarded = "http://127.0.0.1:" + std::to_string(squid.authPort());
  EXPECT_EQ(Run(Trusting({"--proxy", guarded, nginx.url("/files/moved.bin")}), errors), 1);
  EXPECT_NE(errors.find("Proxy Authentication Required"), std::string::npos) << errors;
  EXPECT_FALSE(std::filesystem::exists(out.path() / "moved.bin"));
}

} // namespace
} // namespace velmora
