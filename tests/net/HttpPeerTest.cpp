#include "net/HttpProt.h"
#include "net/HttpRecorder.h"
#include "net/NetTestHelpers.h"
#include "support/LoopRunner.h"
#include "support/PeerServers.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

using namespace velmora::testing;

// The real servers start once for all tests of the binary that use them.
class HttpPeerTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    try {
      nginx = new NginxPeer();
      squid = new SquidPeer();
      WriteWholeFile(nginx->filesFolder() / "data.bin", Data());
      WriteWholeFile(nginx->filesFolder() / "small.txt", "small file\n");
    } catch (const std::exception &error) {
      startError = error.what();
    }
  }
  static void TearDownTestSuite() {
    delete squid;
    delete nginx;
  }
  // A missing or broken peer fails every test that needs it.
  void SetUp() override {
    if (!startError.empty())
      FAIL() << startError;
  }
  static const std::string &Data() {
    static const std::string data = PatternBytes(1 << 20);
    return data;
  }

  void TearDown() override {
    client.reset();
    ExpectLoopDrained(loop);
  }

  void Get(const std::string &url) {
    client->URL = url;
    client->StartGet();
    ASSERT_TRUE(RunUntil(
        loop, [&] { return recorder.done > 0; }, 20000))
        << url;
  }

  void Restart() {
    client = std::make_unique<THttpCli>(loop);
    recorder.attach(*client);
  }

  static NginxPeer *nginx;
  static SquidPeer *squid;
  static std::string startError;
  platform::EventLoop loop;
  std::unique_ptr<THttpCli> client = std::make_unique<THttpCli>(loop);
  HttpRecorder recorder{*client};
};

NginxPeer *HttpPeerTest::nginx = nullptr;
SquidPeer *HttpPeerTest::squid = nullptr;
std::string HttpPeerTest::startError;

TEST_F(HttpPeerTest, PlainGetDeliversTheFile) {
  Get(nginx->url("/files/data.bin"));
  EXPECT_EQ(client->ErrorCode(), 0);
  EXPECT_EQ(client->StatusCode(), 200);
  EXPECT_EQ(client->ContentLength(), static_cast<int64_t>(Data().size()));
  EXPECT_EQ(client->AcceptRanges(), "bytes");
  EXPECT_EQ(client->Location(), client->URL);
  EXPECT_TRUE(recorder.body == Data());
  EXPECT_EQ(recorder.transcript(), "header-begin, header-end 200, doc-begin, doc-end, done 0");
}

TEST_F(HttpPeerTest, Ranges) {
  const int64_t size = static_cast<int64_t>(Data().size());
  struct Case {
    std::string path;
    std::optional<int64_t> begin, end;
    int32_t status;
    TContentRange reply;
    std::string body;
  } cases[] = {
      {"/files/data.bin", 1000, std::nullopt, 206, {1000, size - 1, size}, Data().substr(1000)},
      {"/files/data.bin", 1000, 1999, 206, {1000, 1999, size}, Data().substr(1000, 1000)},
      {"/files/data.bin", size + 10, std::nullopt, 416, {-1, -1, size}, ""},
      {"/norange/data.bin", 1000, std::nullopt, 200, {}, Data()},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.path + " " + std::to_string(*c.begin));
    Restart();
    client->ContentRangeBegin = c.begin;
    client->ContentRangeEnd = c.end;
    Get(nginx->url(c.path));
    EXPECT_EQ(client->ErrorCode(), 0);
    EXPECT_EQ(client->StatusCode(), c.status);
    EXPECT_EQ(client->ReplyContentRange().Begin, c.reply.Begin);
    EXPECT_EQ(client->ReplyContentRange().End, c.reply.End);
    EXPECT_EQ(client->ReplyContentRange().Total, c.reply.Total);
    EXPECT_TRUE(recorder.body == c.body) << recorder.body.size();
  }
}

TEST_F(HttpPeerTest, OffsetsBeyondFourGigabytes) {
  const int64_t size = 5'000'000'000;
  // Sparse: offsets beyond 4 GiB without the disk space.
  WriteWholeFile(nginx->filesFolder() / "huge.bin", "");
  std::filesystem::resize_file(nginx->filesFolder() / "huge.bin", static_cast<uintmax_t>(size));
  client->ContentRangeBegin = 4'500'000'000;
  client->OnDocData = [](THttpCli &c, const char *, std::size_t) { c.Abort(); };
  Get(nginx->url("/files/huge.bin"));
  EXPECT_EQ(client->ErrorCode(), httperr::Aborted);
  EXPECT_EQ(client->ReplyContentRange().Begin, 4'500'000'000);
  EXPECT_EQ(client->ReplyContentRange().Total, size);
  std::filesystem::resize_file(nginx->filesFolder() / "huge.bin", 0);
}

TEST_F(HttpPeerTest, Redirects) {
  const std::string target = nginx->url("/files/small.txt");
  for (const char *path : {"/moved", "/found"}) {
    SCOPED_TRACE(path);
    Restart();
    Get(nginx->url(path));
    EXPECT_EQ(client->ErrorCode(), 0);
    EXPECT_EQ(client->StatusCode(), 200);
    EXPECT_EQ(client->Location(), target);
    // The redirect's own page never reaches the data event.
    EXPECT_EQ(recorder.body, "small file\n");
  }
  Restart();
  Get(nginx->url("/loop"));
  EXPECT_EQ(client->ErrorCode(), httperr::TooManyRedirects);
  EXPECT_EQ(recorder.body, "");
}

TEST_F(HttpPeerTest, BasicAuthorization) {
  Get(nginx->url("/auth/small.txt"));
  EXPECT_EQ(client->ErrorCode(), 0);
  EXPECT_EQ(client->StatusCode(), 401);
  EXPECT_EQ(client->AuthenticateValues(), std::vector<std::string>{"Basic realm=\"Files\""});
  EXPECT_EQ(recorder.body, "");

  Restart();
  client->Username = NginxPeer::kUser;
  client->Password = NginxPeer::kPassword;
  Get(nginx->url("/auth/small.txt"));
  EXPECT_EQ(client->StatusCode(), 200);
  EXPECT_EQ(recorder.body, "small file\n");

  // The address's own credentials take precedence.
  Restart();
  client->Username = "someone";
  client->Password = "wrong";
  Get("http://aladdin:open sesame@127.0.0.1:" + std::to_string(nginx->port()) + "/auth/small.txt");
  EXPECT_EQ(client->StatusCode(), 200);
}

TEST_F(HttpPeerTest, ThrottledTransferKeepsTheLoopResponsiveAndCanBeAborted) {
  WriteWholeFile(nginx->filesFolder() / "slow.bin", Data().substr(0, 300 * 1024));
  int ticks = 0;
  platform::LoopTimer timer(loop);
  timer.start(20, true, [&] { ++ticks; });
  int blocks = 0;
  client->OnDocData = [&](THttpCli &c, const char *data, std::size_t length) {
    recorder.body.append(data, length);
    ++blocks;
    EXPECT_EQ(c.State(), httpReceivingBody);
    if (recorder.body.size() >= 128 * 1024)
      c.Abort();
  };
  Get(nginx->url("/slow/slow.bin"));
  timer.stop();
  EXPECT_EQ(client->ErrorCode(), httperr::Aborted);
  EXPECT_GT(blocks, 3);
  EXPECT_GT(ticks, 5);
  EXPECT_EQ(recorder.body, Data().substr(0, recorder.body.size()));
  EXPECT_EQ(recorder.transcript(), "header-begin, header-end 200, doc-begin, doc-end, done 3");
}

TEST_F(HttpPeerTest, ThroughTheProxy) {
  struct Case {
    std::string proxy, proxyPort;
  } cases[] = {
      {"127.0.0.1", std::to_string(squid->port())},
      {"127.0.0.1:" + std::to_string(squid->port()), "1"},
      {"http://127.0.0.1:" + std::to_string(squid->port()) + "/", "1"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.proxy);
    Restart();
    client->Proxy = c.proxy;
    client->ProxyPort = c.proxyPort;
    client->ContentRangeBegin = 500000;
    Get(nginx->url("/files/data.bin"));
    EXPECT_EQ(client->ErrorCode(), 0) << client->ReasonPhrase();
    EXPECT_EQ(client->StatusCode(), 206);
    EXPECT_EQ(client->ReplyContentRange().Begin, 500000);
    EXPECT_TRUE(recorder.body == Data().substr(500000));
  }
}

TEST_F(HttpPeerTest, ProxyAuthorization) {
  client->Proxy = "127.0.0.1:" + std::to_string(squid->authPort());
  Get(nginx->url("/files/small.txt"));
  EXPECT_EQ(client->ErrorCode(), 0);
  EXPECT_EQ(client->StatusCode(), 407);
  EXPECT_EQ(recorder.body, "");

  Restart();
  client->Proxy = "127.0.0.1:" + std::to_string(squid->authPort());
  client->ProxyUsername = SquidPeer::kUser;
  client->ProxyPassword = SquidPeer::kPassword;
  Get(nginx->url("/files/small.txt"));
  EXPECT_EQ(client->StatusCode(), 200);
  EXPECT_EQ(recorder.body, "small file\n");
}

} // namespace
} // namespace velmora
