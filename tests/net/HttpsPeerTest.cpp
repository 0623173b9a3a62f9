#include "net/HttpProt.h"
#include "net/HttpRecorder.h"
#include "net/NetTestHelpers.h"
#include "net/ScriptedServer.h"
#include "net/TlsErrors.h"
#include "support/LoopRunner.h"
#include "support/PeerServers.h"
#include "support/TlsPeers.h"
#include "support/TlsScriptedServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

namespace velmora {
namespace {

using namespace velmora::testing;

class HttpsPeerTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    try {
      nginx = new NginxTlsPeer();
      squid = new SquidPeer();
      WriteWholeFile(nginx->filesFolder() / "data.bin", Data());
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
    client->Tls.CaFile = nginx->caFile().string();
  }
  void TearDown() override {
    client.reset();
    ExpectLoopDrained(loop);
  }
  static const std::string &Data() {
    static const std::string data = PatternBytes(3 << 20);
    return data;
  }
  void Get(const std::string &url) {
    recorder.attach(*client);
    client->URL = url;
    client->StartGet();
    ASSERT_TRUE(RunUntil(
        loop, [&] { return recorder.done > 0; }, 20000))
        << url;
  }

  static NginxTlsPeer *nginx;
  static SquidPeer *squid;
  static std::string startError;
  platform::EventLoop loop;
  std::unique_ptr<THttpCli> client = std::make_unique<THttpCli>(loop);
  HttpRecorder recorder{*client};
};

NginxTlsPeer *HttpsPeerTest::nginx = nullptr;
SquidPeer *HttpsPeerTest::squid = nullptr;
std::string HttpsPeerTest::startError;

TEST_F(HttpsPeerTest, TrustedServerByAddressAndByName) {
  for (const std::string &url : {nginx->url("/files/data.bin"),
                                 "https://localhost:" + std::to_string(nginx->port()) + "/files/data.bin"}) {
    SCOPED_TRACE(url);
    Get(url);
    EXPECT_EQ(client->ErrorCode(), 0) << client->ReasonPhrase();
    EXPECT_EQ(client->StatusCode(), 200);
    EXPECT_TRUE(recorder.body == Data());
    EXPECT_TRUE(client->Transport().Secured());
  }
  // The name goes to the server by SNI; a literal address never does. nginx logs a request when it
  // notices its end, a moment after ours.
  for (int i = 0; i < 300 && nginx->sessionLog().find(" localhost 200 ") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_NE(nginx->sessionLog().find(" - 200 /files/data.bin"), std::string::npos) << nginx->sessionLog();
  EXPECT_NE(nginx->sessionLog().find(" localhost 200 /files/data.bin"), std::string::npos)
      << nginx->sessionLog();
}

TEST_F(HttpsPeerTest, BasicCredentialsGoInsideTheSession) {
  Get(nginx->url("/auth/data.bin"));
  EXPECT_EQ(client->StatusCode(), 401);
  client->Username = NginxPeer::kUser;
  client->Password = NginxPeer::kPassword;
  Get(nginx->url("/auth/data.bin"));
  EXPECT_EQ(client->StatusCode(), 200);
  EXPECT_TRUE(recorder.body == Data());
}

TEST_F(HttpsPeerTest, EveryBadCertificateIsRefusedWithItsReasonAndAcceptedWhenNotChecked) {
  struct Case {
    NginxTlsPeer::Server server;
    bool withCa;
    std::string reason;
  };
  const Case cases[] = {
      {NginxTlsPeer::expired, true, "certificate has expired"},
      {NginxTlsPeer::otherName, true, "IP address mismatch"},
      {NginxTlsPeer::selfSigned, true, "self-signed certificate"},
      {NginxTlsPeer::unknownCa, true, "unable to get local issuer certificate"},
      {NginxTlsPeer::trusted, false, "unable to get local issuer certificate"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.reason + " on " + std::to_string(nginx->port(c.server)));
    client->Tls = TTlsOptions{true, c.withCa ? nginx->caFile().string() : ""};
    Get(nginx->url("/files/data.bin", c.server));
    EXPECT_EQ(client->ErrorCode(), tlserr::CertificateNotTrusted);
    EXPECT_EQ(client->Transport().TlsFailure(), c.reason);
    EXPECT_EQ(client->ReasonPhrase(), c.reason);
    EXPECT_TRUE(recorder.body.empty());
    EXPECT_EQ(recorder.transcript(), "done " + std::to_string(tlserr::CertificateNotTrusted));

    client->Tls = TTlsOptions{false, ""};
    Get(nginx->url("/files/data.bin", c.server));
    EXPECT_EQ(client->ErrorCode(), 0) << client->ReasonPhrase();
    EXPECT_TRUE(recorder.body == Data());
  }
}

TEST_F(HttpsPeerTest, AWrongNameIsRefusedForANameToo) {
  // The other-name certificate names other.example only: localhost is not in it.
  Get("https://localhost:" + std::to_string(nginx->port(NginxTlsPeer::otherName)) + "/files/data.bin");
  EXPECT_EQ(client->ErrorCode(), tlserr::CertificateNotTrusted);
  EXPECT_EQ(client->ReasonPhrase(), "hostname mismatch");
}

TEST_F(HttpsPeerTest, RedirectsLeadBetweenHttpAndHttps) {
  Get(nginx->url("/to-https/data.bin", NginxTlsPeer::plain));
  EXPECT_EQ(client->ErrorCode(), 0) << client->ReasonPhrase();
  EXPECT_EQ(client->Location(), nginx->url("/files/data.bin"));
  EXPECT_TRUE(recorder.body == Data());

  Get(nginx->url("/to-http/data.bin"));
  EXPECT_EQ(client->ErrorCode(), 0) << client->ReasonPhrase();
  EXPECT_EQ(client->Location(), nginx->url("/files/data.bin", NginxTlsPeer::plain));
  EXPECT_TRUE(recorder.body == Data());
}

TEST_F(HttpsPeerTest, ThroughTheProxyInATunnel) {
  client->Proxy = "127.0.0.1:" + std::to_string(squid->port());
  Get(nginx->url("/files/data.bin"));
  EXPECT_EQ(client->ErrorCode(), 0) << client->ReasonPhrase();
  EXPECT_TRUE(recorder.body == Data());
  EXPECT_TRUE(client->Transport().Secured());

  // The proxy's own refusal is the answer, not a TLS error.
  client->Proxy = "127.0.0.1:" + std::to_string(squid->authPort());
  Get(nginx->url("/files/data.bin"));
  EXPECT_EQ(client->ErrorCode(), 0);
  EXPECT_EQ(client->StatusCode(), 407);
  EXPECT_TRUE(recorder.body.empty());

  client->ProxyUsername = SquidPeer::kUser;
  client->ProxyPassword = SquidPeer::kPassword;
  Get(nginx->url("/files/data.bin"));
  EXPECT_EQ(client->ErrorCode(), 0) << client->ReasonPhrase();
  EXPECT_TRUE(recorder.body == Data());

  // A certificate refused inside the tunnel is still the certificate's fault.
  Get(nginx->url("/files/data.bin", NginxTlsPeer::selfSigned));
  EXPECT_EQ(client->ErrorCode(), tlserr::CertificateNotTrusted);
}

TEST_F(HttpsPeerTest, TheConnectionsAfterTheFirstResumeItsSession) {
  Get(nginx->url("/files/data.bin"));
  ASSERT_EQ(client->ErrorCode(), 0);
  const TTlsContext &context = TTlsContext::Process();
  const uint64_t full = context.FullHandshakes, resumed = context.ResumedHandshakes;
  std::vector<std::unique_ptr<THttpCli>> others;
  int done = 0;
  for (int i = 0; i < 7; ++i) {
    auto &other = others.emplace_back(std::make_unique<THttpCli>(loop));
    other->Tls.CaFile = nginx->caFile().string();
    other->URL = nginx->url("/files/data.bin");
    other->OnRequestDone = [&](THttpCli &c, THttpRequest, uint16_t error) {
      EXPECT_EQ(error, 0) << c.ReasonPhrase();
      ++done;
    };
    other->StartGet();
  }
  ASSERT_TRUE(RunUntil(
      loop, [&] { return done == 7; }, 20000));
  EXPECT_EQ(context.FullHandshakes - full, 0u);
  EXPECT_EQ(context.ResumedHandshakes - resumed, 7u);
  for (const auto &other : others)
    EXPECT_TRUE(other->Transport().SessionReused());
  others.clear();
}

TEST_F(HttpsPeerTest, BrokenEndsAndPlainHttpAreErrors) {
  const std::string body = PatternBytes(40000);
  const auto &certificates = nginx->certificates();
  struct Case {
    std::string name;
    std::string reply;
    TlsScriptedServer::Ending ending;
    uint16_t error;
  };
  const std::string lengthless = "HTTP/1.0 200 OK\r\n\r\n" + body;
  const std::string cutShort = "HTTP/1.0 200 OK\r\nContent-Length: 80000\r\n\r\n" + body;
  const Case cases[] = {
      {"no length, clean end", lengthless, TlsScriptedServer::closeNotify, 0},
      {"no length, no close_notify", lengthless, TlsScriptedServer::abrupt, tlserr::Truncated},
      {"short body, no close_notify", cutShort, TlsScriptedServer::abrupt, tlserr::Truncated},
      {"garbage after the reply", lengthless, TlsScriptedServer::garbage, tlserr::ProtocolError},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TlsScriptedServer server(certificates.certificate("trusted"), certificates.key("trusted"), c.reply,
                             c.ending);
    Get(server.url("/file"));
    EXPECT_EQ(client->ErrorCode(), c.error) << client->ReasonPhrase();
    EXPECT_TRUE(recorder.body == body);
  }

  // A plain http server on the port: its reply is no handshake.
  ScriptedServer plain({{Send("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n"), Drain()}});
  Get("https://127.0.0.1:" + std::to_string(plain.port()) + "/file");
  EXPECT_EQ(client->ErrorCode(), tlserr::HandshakeFailed);
  EXPECT_NE(client->ReasonPhrase().find("wrong version number"), std::string::npos) << client->ReasonPhrase();
  EXPECT_TRUE(recorder.body.empty());
}

} // namespace
} // namespace velmora
