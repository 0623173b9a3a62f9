#include "engine/FtpPartDownloaderFixture.h"
#include "engine/PartFile.h"
#include "support/FtpPeer.h"

namespace velmora {
namespace {

using namespace velmora::testing;

constexpr int64_t kSize = 350000;
const std::string kRemote = RemoteBytes(0, kSize);

class FtpPartPeers : public FtpPartFixture {
protected:
  void Serve(const std::filesystem::path &root) {
    std::filesystem::create_directories(root / "pub");
    WriteWholeFile(root / "pub" / "f.bin", kRemote);
  }

  // Starts the part with the given bytes already in its file and runs it to its end; returns the
  // last report.
  std::string Run(const std::string &url, int64_t start, int64_t end, int64_t existing = 0) {
    transcript.clear();
    ends = 0;
    Make(url, start, end);
    WriteWholeFile(PartFile(),
                   kRemote.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(existing)));
    Start();
    EXPECT_TRUE(RunToEnd(1, 20000)) << Transcript();
    return transcript.empty() ? "" : transcript.back();
  }

  // What the part file must hold after a complete run: its range, or more when the transfer ran
  // one block past it (the slot cuts that off).
  void ExpectRange(int64_t start, int64_t end) {
    const std::string got = ReadWholeFile(PartFile());
    const auto length = static_cast<std::size_t>((end > 0 ? end + 1 : kSize) - start);
    ASSERT_GE(got.size(), length);
    EXPECT_TRUE(got.substr(0, length) == kRemote.substr(static_cast<std::size_t>(start), length))
        << "the part's bytes differ";
  }
};

TEST_F(FtpPartPeers, VsftpdTable) {
  VsftpdOptions banner;
  banner.bannerLines = "Welcome to the test server.\n220 lines like this one are text.\nBe nice.\n";
  VsftpdOptions otherAddress;
  otherAddress.pasvAddress = "10.255.255.1";
  const LocalFtpUser local;
  VsftpdPeer plain;
  VsftpdPeer withBanner(banner);
  VsftpdPeer namingAnotherAddress(otherAddress);
  for (const VsftpdPeer *peer : {&plain, &withBanner, &namingAnotherAddress})
    Serve(peer->root());
  const struct {
    const char *name;
    std::string url;
    bool passive;
    int64_t start, end, existing;
    std::string last;
  } cases[] = {
      {"whole file, passive", plain.url("/pub/f.bin"), true, 0, 0, 0, "done"},
      {"later part resumed, active", plain.url("/pub/f.bin"), false, 300000, kSize - 1, 1000, "done"},
      {"middle part, one block past its end", plain.url("/pub/f.bin"), true, 1000, 99999, 0, "done"},
      {"local user, first part, passive", plain.url("/pub/f.bin", local.userInfo()), true, 0, 99999, 0,
       "done"},
      {"local user, middle part, active", plain.url("/pub/f.bin", local.userInfo()), false, 100000, 249999, 0,
       "done"},
      {"local user, last part resumed, passive", plain.url("/pub/f.bin", local.userInfo()), true, 250000,
       kSize - 1, 7000, "done"},
      {"local user, wrong password", plain.url("/pub/f.bin", local.userInfo("wrong")), false, 0, 0, 0,
       "error Couldn't login"},
      {"unknown user", plain.url("/pub/f.bin", "nosuchuser:wrong"), true, 0, 0, 0, "error Couldn't login"},
      {"missing file", plain.url("/pub/none.bin"), true, 0, 0, 0, "error File not found"},
      {"missing folder", plain.url("/nothere/f.bin"), true, 0, 0, 0, "error File not found"},
      {"multi-line greeting", withBanner.url("/pub/f.bin"), false, 0, 0, 0, "done"},
      {"227 naming a wrong address", namingAnotherAddress.url("/pub/f.bin"), true, 5000, 0, 0, "done"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    settings.WriteBool("Options", "PassiveMode", c.passive);
    const std::string last = Run(c.url, c.start, c.end, c.existing);
    EXPECT_EQ(last, c.last) << Transcript();
    if (c.last == "done") {
      ExpectRange(c.start, c.end);
    }
  }
}

TEST_F(FtpPartPeers, VsftpdRefusesPartsBeyondItsLimitPerAddress) {
  VsftpdOptions limited;
  limited.maxPerIp = 2;
  VsftpdPeer peer(limited);
  Serve(peer.root());
  settings.WriteBool("Options", "PassiveMode", true);
  std::vector<std::unique_ptr<TFTPPartDownloader>> parts;
  std::vector<std::string> lasts(5);
  int finished = 0;
  for (int i = 0; i < 5; ++i) {
    parts.push_back(std::make_unique<TFTPPartDownloader>(context, peer.url("/pub/f.bin"),
                                                         dir.file("P" + std::to_string(i)), 0, 0));
    parts.back()->OnChange = [&, i](TPartDownloader &changed, TPartDownloaderState state) {
      lasts[static_cast<std::size_t>(i)] = Describe(changed, state);
      if (IsFinal(state))
        ++finished;
    };
    parts.back()->State = pdsConnecting;
    parts.back()->Get();
  }
  ASSERT_TRUE(RunUntil(
      loop, [&] { return finished == 5; }, 20000));
  const auto refused = std::count(lasts.begin(), lasts.end(), "error Couldn't connect to host");
  EXPECT_GE(refused, 3) << ::testing::PrintToString(lasts);
  EXPECT_EQ(std::count(lasts.begin(), lasts.end(), "done") + refused, 5);
  parts.clear();
}

TEST_F(FtpPartPeers, PyftpdlibMisbehaviourTable) {
  settings.WriteBool("Options", "PassiveMode", true);
  settings.WriteInteger("Options", "TimeOutTime", 500);
  const struct {
    const char *name;
    PyftpdlibOptions options;
    int64_t start, existing;
    std::string last;
    std::string resume; // the reported resume support, when the chain gets that far
  } cases[] = {
      {"user without SIZE", {"velmora", "s3cret", {"SIZE"}, 0, 0, false, false}, 0, 0, "done", "yes"},
      {"without REST, a part at 0 starts again",
       {"", "", {"REST"}, 0, 0, false, false},
       0,
       300,
       "done",
       "no"},
      {"without REST, a later part",
       {"", "", {"REST"}, 0, 0, false, false},
       250000,
       0,
       "error Resume is not supported",
       "no"},
      {"stall after login", {"", "", {}, 0, 0, true, false}, 0, 0, "error Timeout", ""},
      {"over IPv6", {"velmora", "s3cret", {}, 0, 0, false, true}, 1234, 0, "done", "yes"},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    PyftpdlibPeer peer(c.options);
    Serve(peer.root());
    const std::string last =
        Run(peer.url("/pub/f.bin", c.options.ipv6 ? "[::1]" : "127.0.0.1"), c.start, 0, c.existing);
    EXPECT_EQ(last, c.last) << Transcript();
    if (!c.resume.empty()) {
      EXPECT_EQ(part->ResumeSupported == rsYes ? "yes" : "no", c.resume);
    }
    if (c.last == "done") {
      ExpectRange(c.start, 0);
    }
  }
}

TEST_F(FtpPartPeers, ThroughARealFtpProxy) {
  VsftpdPeer vsftpd;
  FtpProxyPeer proxy;
  Serve(vsftpd.root());
  settings.WriteBool("Options", "PassiveMode", false); // the proxy convention forces passive mode
  settings.WriteBool("Options", "UseFTPProxy", true);
  settings.WriteString("Options", "FTPProxyAddress", "127.0.0.1");
  settings.WriteString("Options", "FTPProxyPort", std::to_string(proxy.port()));
  const std::string url = vsftpd.url("/pub/f.bin");
  EXPECT_EQ(Run(url, 0, 0), "done") << Transcript();
  ExpectRange(0, 0);
  EXPECT_EQ(Run(url, 200000, kSize - 1, 5000), "done") << Transcript();
  ExpectRange(200000, kSize - 1);
  EXPECT_TRUE(part->Client()->Passive);
}

TEST_F(FtpPartPeers, KilledDataConnectionsResumeByteExact) {
  PyftpdlibOptions killing;
  killing.killAfter = 100000;
  PyftpdlibPeer peer(killing);
  Serve(peer.root());
  settings.WriteBool("Options", "PassiveMode", true);
  EXPECT_EQ(Run(peer.url("/pub/f.bin"), 0, 0), "error Lost connection to server");
  // A reset may drop bytes still on their way; what arrived is the file's beginning.
  const std::string kept = ReadWholeFile(PartFile());
  EXPECT_LE(kept.size(), 100000u);
  EXPECT_TRUE(kept == kRemote.substr(0, kept.size()));
  // Each new start goes on where the file ends, through the same part downloader, and gains bytes.
  for (int run = 0; run < 50 && transcript.back() != "done"; ++run) {
    const std::size_t before = ReadWholeFile(PartFile()).size();
    ends = 0;
    Start();
    ASSERT_TRUE(RunToEnd(1, 20000));
    ASSERT_GT(ReadWholeFile(PartFile()).size(), before) << "run " << run;
  }
  EXPECT_EQ(transcript.back(), "done");
  EXPECT_TRUE(ReadWholeFile(PartFile()) == kRemote);
}

TEST_F(FtpPartPeers, PausedThrottledPartResumesByteExact) {
  PyftpdlibOptions throttled;
  throttled.throttle = 100000;
  PyftpdlibPeer peer(throttled);
  Serve(peer.root());
  settings.WriteBool("Options", "PassiveMode", false);
  Make(peer.url("/pub/f.bin"), 0, 0);
  Start();
  ASSERT_TRUE(RunUntil(loop, [&] { return part->Received > 50000; }));
  part->Pause();
  EXPECT_EQ(transcript.back(), "paused");
  const std::size_t kept = ReadWholeFile(PartFile()).size();
  EXPECT_GT(kept, 50000u);
  EXPECT_LT(kept, static_cast<std::size_t>(kSize));
  RunUntil(
      loop, [] { return false; }, 200);
  EXPECT_EQ(ReadWholeFile(PartFile()).size(), kept) << "nothing is written after the pause";
  ends = 0;
  Start();
  ASSERT_TRUE(RunToEnd(1, 20000));
  EXPECT_EQ(transcript.back(), "done");
  EXPECT_TRUE(ReadWholeFile(PartFile()) == kRemote);
}

} // namespace
} // namespace velmora
