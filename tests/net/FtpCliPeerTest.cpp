#include "net/FtpCli.h"
#include "net/NetTestHelpers.h"
#include "support/FtpPeer.h"
#include "support/LoopRunner.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace velmora {
namespace {

using namespace velmora::testing;

struct Server {
  std::string host;
  uint16_t port;
  std::string user, password;
};

// Runs the chain the part downloader runs: logon, TYPE I, CWD, SIZE, then a retrieve restarted at
// the end of what the local file already holds. Returns the errors of the steps, in order.
std::vector<uint16_t> FetchRestarted(const Server &server, bool passive, const std::string &local) {
  platform::EventLoop loop;
  std::vector<uint16_t> errors;
  {
    TFtpClient client(loop);
    client.HostName = server.host;
    client.Port = std::to_string(server.port);
    client.UserName = server.user;
    client.PassWord = server.password;
    client.HostDirName = "/pub/";
    client.HostFileName = "file.bin";
    client.LocalFileName = local;
    client.Passive = passive;
    client.Options |= ftpNoAutoStartDownloadAt;
    const int64_t existing = static_cast<int64_t>(std::filesystem::file_size(local));
    client.StartDownloadAt = existing;
    client.LocalStartAt = existing;
    const std::vector<std::function<void()>> steps = {
        [&] { client.Connect(); }, [&] { client.SetBinaryType(); }, [&] { client.ChangeDir(); },
        [&] { client.QuerySize(); }, [&] { client.RestGet(); }};
    std::size_t next = 0;
    bool finished = false;
    client.OnRequestDone = [&](TFtpClient &, TFtpRequest, uint16_t error) {
      errors.push_back(error);
      if (error != 0 || next == steps.size())
        finished = true;
      else
        steps[next++]();
    };
    steps[next++]();
    EXPECT_TRUE(RunUntil(
        loop, [&] { return finished; }, 20000));
    if (errors.size() == steps.size()) {
      EXPECT_EQ(client.SizeResult(), (1 << 20) + 17);
    }
  }
  ExpectLoopDrained(loop);
  return errors;
}

TEST(FtpClientPeers, RestartedRetrieveIsByteExactOnEveryServerAndMode) {
  const std::string remote = PatternBytes((1 << 20) + 17);
  VsftpdOptions otherAddress;
  otherAddress.pasvAddress = "10.255.255.1";
  PyftpdlibOptions user;
  user.user = "velmora";
  user.password = "s3cret";
  PyftpdlibOptions userOverIpv6 = user;
  userOverIpv6.ipv6 = true;
  VsftpdPeer vsftpd;
  VsftpdPeer vsftpdNamingAnotherAddress(otherAddress);
  PyftpdlibPeer pyftpdlib(user);
  PyftpdlibPeer pyftpdlibIpv6(userOverIpv6);
  for (const auto &root :
       {vsftpd.root(), vsftpdNamingAnotherAddress.root(), pyftpdlib.root(), pyftpdlibIpv6.root()}) {
    std::filesystem::create_directories(root / "pub");
    WriteWholeFile(root / "pub" / "file.bin", remote);
  }
  const struct {
    const char *name;
    Server server;
    bool passive;
  } cases[] = {
      {"vsftpd anonymous, passive", {"127.0.0.1", vsftpd.port(), "anonymous", "velmora@example.com"}, true},
      {"vsftpd anonymous, active", {"127.0.0.1", vsftpd.port(), "anonymous", "velmora@example.com"}, false},
      {"vsftpd naming a wrong address in 227",
       {"127.0.0.1", vsftpdNamingAnotherAddress.port(), "anonymous", "x@y"},
       true},
      {"pyftpdlib user, passive", {"127.0.0.1", pyftpdlib.port(), "velmora", "s3cret"}, true},
      {"pyftpdlib user, active", {"127.0.0.1", pyftpdlib.port(), "velmora", "s3cret"}, false},
      {"pyftpdlib over IPv6, EPSV", {"::1", pyftpdlibIpv6.port(), "velmora", "s3cret"}, true},
      {"pyftpdlib over IPv6, EPRT", {"::1", pyftpdlibIpv6.port(), "velmora", "s3cret"}, false},
  };
  TempDir dir;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string local = dir.file("part");
    WriteWholeFile(local, remote.substr(0, 300000));
    EXPECT_EQ(FetchRestarted(c.server, c.passive, local), (std::vector<uint16_t>{0, 0, 0, 0, 0}));
    EXPECT_TRUE(ReadWholeFile(local) == remote) << "the file differs";
  }
}

TEST(FtpClientPeers, WrongPasswordIsRefusedWith530) {
  PyftpdlibOptions user;
  user.user = "velmora";
  user.password = "s3cret";
  VsftpdPeer vsftpd;
  PyftpdlibPeer pyftpdlib(user);
  TempDir dir;
  WriteWholeFile(dir.file("part"), "");
  for (const Server &server : {Server{"127.0.0.1", vsftpd.port(), "nosuchuser", "wrong"},
                               Server{"127.0.0.1", pyftpdlib.port(), "velmora", "wrong"}}) {
    const std::vector<uint16_t> errors = FetchRestarted(server, true, dir.file("part"));
    EXPECT_EQ(errors, (std::vector<uint16_t>{530}));
  }
}

} // namespace
} // namespace velmora
