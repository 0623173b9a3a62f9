#include "engine/HttpPartFixture.h"
#include "support/PeerServers.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace velmora {
namespace {

using namespace velmora::testing;

constexpr int64_t kSize = 200000;
constexpr int64_t kSmallSize = 5000; // /moved and /found lead to it

// One nginx serves every test of this file.
class HttpPartNginxTest : public HttpPartFixture {
protected:
  static void SetUpTestSuite() {
    try {
      nginx = new NginxPeer();
      WriteWholeFile(nginx->filesFolder() / "data.bin", RemoteBytes(0, kSize));
      WriteWholeFile(nginx->filesFolder() / "small.txt", RemoteBytes(0, kSmallSize));
    } catch (const std::exception &error) {
      startError = error.what();
    }
  }
  static void TearDownTestSuite() {
    delete nginx;
    nginx = nullptr;
  }
  // A missing or broken nginx fails every test that needs it.
  void SetUp() override {
    if (!startError.empty())
      FAIL() << startError;
  }

  static NginxPeer *nginx;
  static std::string startError;
};

NginxPeer *HttpPartNginxTest::nginx = nullptr;
std::string HttpPartNginxTest::startError;

struct NginxCase {
  const char *name;
  std::string path;
  int64_t start, end;
  std::string onDisk;
  int64_t remoteSize;
  std::string transcript;
  std::string afterwards;
};

void PrintTo(const NginxCase &c, std::ostream *out) { *out << c.name; }

class HttpPartNginxCases : public HttpPartNginxTest, public ::testing::WithParamInterface<NginxCase> {};

TEST_P(HttpPartNginxCases, Transfer) {
  const NginxCase &c = GetParam();
  Make(nginx->url(c.path), c.start, c.end);
  if (!c.onDisk.empty())
    WriteWholeFile(part->PartFileName, c.onDisk);
  part->RemoteSize = c.remoteSize;
  part->Get();
  ASSERT_TRUE(RunToEnd(1, 30000)) << Transcript();
  loop.runOnce(20);
  EXPECT_EQ(Transcript(), c.transcript);
  const std::string afterwards = ReadWholeFile(part->PartFileName);
  EXPECT_EQ(afterwards.size(), c.afterwards.size());
  EXPECT_TRUE(afterwards == c.afterwards) << "the part file holds exactly the bytes of its range";
}

INSTANTIATE_TEST_SUITE_P(
    Nginx, HttpPartNginxCases,
    ::testing::Values(
        NginxCase{"WholePart", "/files/data.bin", 0, 0, "", 0,
                  "connected, resume-known yes, size-known 200000, downloading, done", RemoteBytes(0, kSize)},
        NginxCase{"ResumedPartStopsAtItsEnd", "/files/data.bin", 50000, 99999, RemoteBytes(50000, 1200),
                  kSize, "connected, resume-known yes, downloading, range-complete, done",
                  RemoteBytes(50000, 50000)},
        NginxCase{"NoRangesAtAnOffset", "/norange/data.bin", 50000, 99999, "", kSize,
                  "connected, error Resume is not supported", ""},
        NginxCase{"NoRangesForTheFirstPartFetchesItAgain", "/norange/data.bin", 0, 0, std::string(300, '#'),
                  0, "connected, resume-known no, size-known 200000, downloading, done",
                  RemoteBytes(0, kSize)},
        NginxCase{"RedirectBeforeTheData", "/found", 0, 0, RemoteBytes(0, 300), kSmallSize,
                  "connected, connected, resume-known yes, downloading, done", RemoteBytes(0, kSmallSize)},
        NginxCase{"AuthenticationDemand", "/auth/data.bin", 0, 0, "", 0, "connected, auth-required Files",
                  ""},
        NginxCase{"NotFound", "/files/missing.bin", 0, 0, "", 0, "connected, error File not found", ""},
        NginxCase{"MirrorWithAnotherFile", "/files/data.bin", 0, 0, "", 123456,
                  "connected, resume-known yes, error Filesize mismatch", ""},
        NginxCase{"ThrottledPart", "/slow/data.bin", 0, 69999, "", 0,
                  "connected, resume-known yes, size-known 200000, downloading, range-complete, done",
                  RemoteBytes(0, 70000)}),
    [](const auto &row) { return std::string(row.param.name); });

// The user's answer to a demand, as the site manager would give it.
class AnsweredCredentials : public ISiteCredentials {
public:
  explicit AnsweredCredentials(std::string password) : password_(std::move(password)) {}
  void SetCredentials(const TUrl &, const std::string &, const std::string &, const std::string &) override {}
  std::string GetUser(const TUrl &, const std::string &) override { return NginxPeer::kUser; }
  std::string GetPassword(const TUrl &, const std::string &) override { return password_; }

private:
  std::string password_;
};

TEST_F(HttpPartNginxTest, CredentialsAfterADemand) {
  struct Case {
    std::string password;
    std::string transcript;
  };
  const Case cases[] = {
      {NginxPeer::kPassword, "connected, resume-known yes, size-known 200000, downloading, done"},
      {"wrong", "connected, error Couldn't login"}};
  for (const Case &c : cases) {
    transcript.clear();
    ends = 0;
    AnsweredCredentials answer(c.password);
    THttpPartContext answered{loop, settings, context.Environment, answer, words};
    part = std::make_unique<THTTPPartDownloader>(answered, nginx->url("/auth/data.bin"), dir.file("T"), 0, 0);
    Record(*part);
    part->Realm = "Files";
    part->AuthTried = true;
    part->Get();
    ASSERT_TRUE(RunToEnd(1, 30000)) << c.password;
    EXPECT_EQ(Transcript(), c.transcript) << c.password;
    part.reset();
    loop.runOnce(0);
    std::filesystem::remove(dir.file("T.0"));
  }
}

// A resumed part through a real proxy that demands its own credentials: the settings name it and
// the range passes through; wrong proxy credentials end in the proxy's refusal.
TEST_F(HttpPartNginxTest, ResumedThroughAProxy) {
  std::unique_ptr<SquidPeer> squid;
  ASSERT_NO_THROW(squid = std::make_unique<SquidPeer>());
  struct Case {
    std::string password;
    std::string transcript;
  };
  const Case cases[] = {{SquidPeer::kPassword, "connected, resume-known yes, downloading, done"},
                        {"wrong", "connected, error Proxy Authentication Required"}};
  for (const Case &c : cases) {
    transcript.clear();
    ends = 0;
    settings.WriteBool("Options", "UseHTTPProxy", true);
    settings.WriteString("Options", "HTTPProxyAddress", "127.0.0.1");
    settings.WriteString("Options", "HTTPProxyPort", std::to_string(squid->authPort()));
    settings.WriteString("Options", "HTTPProxyUser", SquidPeer::kUser);
    settings.WriteString("Options", "HTTPProxyPass", c.password);
    Make(nginx->url("/files/data.bin"), 100000, 0);
    WriteWholeFile(part->PartFileName, RemoteBytes(100000, 777));
    part->RemoteSize = kSize;
    part->Get();
    ASSERT_TRUE(RunToEnd(1, 30000)) << Transcript();
    EXPECT_EQ(Transcript(), c.transcript);
    const bool done = transcript.back() == "done";
    EXPECT_TRUE(ReadWholeFile(part->PartFileName) == RemoteBytes(100000, done ? kSize - 100000 : 777));
    part.reset();
    loop.runOnce(0);
  }
}

// The file shrinks on the server while it is being sent: the server ends the connection before
// the length it announced, and the part keeps what it got for a later resume.
TEST_F(HttpPartNginxTest, TransferCutShortByTheServer) {
  const std::filesystem::path served = nginx->filesFolder() / "shrinking.bin";
  WriteWholeFile(served, RemoteBytes(0, 1 << 20));
  Make(nginx->url("/slow/shrinking.bin"), 0, 0);
  part->Get();
  ASSERT_TRUE(RunUntil(
      loop, [&] { return part->Received > 0; }, 20000))
      << Transcript();
  // Cut beyond what is under way: bytes the server has already queued stay as they were.
  std::filesystem::resize_file(served, 140000);
  ASSERT_TRUE(RunToEnd(1, 30000)) << Transcript();
  EXPECT_EQ(transcript.back(), "error Lost connection to server") << Transcript();
  EXPECT_EQ(part->ErrorState, fmeConnectionLost);
  const std::string kept = ReadWholeFile(part->PartFileName);
  EXPECT_LE(kept.size(), 140000u);
  EXPECT_TRUE(kept == RemoteBytes(0, static_cast<int64_t>(kept.size())));
}

TEST_F(HttpPartNginxTest, ThrottledTransferShowsSignsOfLife) {
  Make(nginx->url("/slow/data.bin"), 0, 0);
  uint32_t firstData = 0;
  onChange = [&](TPartDownloader &changed, TPartDownloaderState state) {
    if (state == pdsDownloading)
      firstData = changed.LastActivityTick;
  };
  part->Get();
  ASSERT_TRUE(RunUntil(
      loop, [&] { return firstData != 0 && part->LastActivityTick != firstData; }, 20000));
  EXPECT_EQ(transcript.back(), "downloading");
  part->Stop();
  ASSERT_TRUE(RunToEnd());
}

} // namespace
} // namespace velmora
