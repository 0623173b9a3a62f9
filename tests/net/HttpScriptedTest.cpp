#include "net/HttpProt.h"
#include "net/HttpRecorder.h"
#include "net/NetTestHelpers.h"
#include "net/ScriptedServer.h"
#include "net/SocketErrors.h"
#include "support/LoopRunner.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

using namespace velmora::testing;

// A complete header: the lines, each ended by CR LF, and the blank line.
std::string Header(std::string lines) {
  if (!lines.ends_with("\r\n"))
    lines += "\r\n";
  return lines + "\r\n";
}

class HttpScriptedTest : public ::testing::Test {
protected:
  void TearDown() override {
    client.reset();
    ExpectLoopDrained(loop);
  }

  void Get(uint16_t port, const std::string &path = "/dir/file1") {
    client->URL = "http://127.0.0.1:" + std::to_string(port) + path;
    client->Accept = "*/*";
    client->Agent = "Velmora";
    client->StartGet();
  }

  bool WaitDone(uint32_t deadlineMs = 10000) {
    return RunUntil(
        loop, [&] { return recorder.done > 0; }, deadlineMs);
  }

  platform::EventLoop loop;
  std::unique_ptr<THttpCli> client = std::make_unique<THttpCli>(loop);
  HttpRecorder recorder{*client};
};

// Each row: what the server does, and what the client reports.
struct ScriptedCase {
  const char *name;
  std::vector<Script> connections;
  const char *transcript;
  std::string body;
  int32_t status;
};

std::vector<ScriptedCase> Cases() {
  const std::string ok = "HTTP/1.0 200 OK\r\n";
  std::string flood = ok;
  for (int i = 0; i < 1000; ++i)
    flood += "X-Flood: " + std::to_string(i) + "\r\n";
  return {
      {"PlainBody",
       {{ReadRequest(), Send(Header(ok + "Content-Length: 5\r\n") + "hello"), Stall()}},
       "header-begin, header-end 200, doc-begin, doc-end, done 0",
       "hello",
       200},
      {"NoLengthEndsAtClose",
       {{ReadRequest(), Send(Header(ok) + "abc"), Pause(50), Send("def"), CloseConnection()}},
       "header-begin, header-end 200, doc-begin, doc-end, done 0",
       "abcdef",
       200},
      {"BodyBeyondTheLengthIsCutOff",
       {{ReadRequest(), Send(Header(ok + "Content-Length: 3\r\n") + "abcdef"), Stall()}},
       "header-begin, header-end 200, doc-begin, doc-end, done 0",
       "abc",
       200},
      {"TruncatedBody",
       {{ReadRequest(), Send(Header(ok + "Content-Length: 100\r\n") + "part"), CloseConnection()}},
       "header-begin, header-end 200, doc-begin, doc-end, done 10",
       "part",
       404},
      {"ResetInTheMiddle",
       {{ReadRequest(), Send(Header(ok) + "part"), Pause(50), ResetConnection()}},
       "header-begin, header-end 200, doc-begin, doc-end, done 10054",
       "part",
       404},
      {"LengthZero",
       {{ReadRequest(), Send(Header(ok + "Content-Length: 0\r\n")), Stall()}},
       "header-begin, header-end 200, done 0",
       "",
       200},
      {"ErrorBodyIsNotRead",
       {{ReadRequest(), Send(Header("HTTP/1.0 500 Oops\r\nContent-Length: 4\r\n") + "oops"), Stall()}},
       "header-begin, header-end 500, done 0",
       "",
       500},
      {"AuthenticationDemandBodyIsNotRead",
       {{ReadRequest(),
         Send(Header("HTTP/1.0 401 No\r\nWWW-Authenticate: Basic realm=\"Files\"\r\n") + "deny"), Stall()}},
       "header-begin, header-end 401, done 0",
       "",
       401},
      {"ResponseWithoutHeader",
       {{ReadRequest(), Send("<HTML><body>x</body></HTML>\n"), CloseConnection()}},
       "header-begin, header-end 0, doc-begin, doc-end, done 0",
       "<HTML><body>x</body></HTML>\n",
       0},
      {"FloodOfHeaderLines", {{ReadRequest(), Send(flood), Stall()}}, "header-begin, done 5", "", 404},
      {"OverlongLine",
       {{ReadRequest(), Send(ok + "X-Long: " + std::string(10000, 'a')), Stall()}},
       "header-begin, done 4",
       "",
       404},
      {"MalformedStatusLine", {{ReadRequest(), Send("HTTP/1.0 OK\r\n\r\n"), Stall()}}, "done 6", "", 404},
      {"MalformedLength",
       {{ReadRequest(), Send(Header(ok + "Content-Length: 12abc\r\n")), Stall()}},
       "header-begin, done 6",
       "",
       404},
      {"OverflowingLength",
       {{ReadRequest(), Send(Header(ok + "Content-Length: 99999999999999999999\r\n")), Stall()}},
       "header-begin, done 6",
       "",
       404},
      {"ClosedInsideTheHeader",
       {{ReadRequest(), Send(ok + "Content-Length: 10\r\n"), CloseConnection()}},
       "header-begin, header-end 200, done 10",
       "",
       404},
      {"ClosedWithoutResponse", {{ReadRequest(), CloseConnection()}}, "done 10", "", 404},
      {"RelativeRedirect",
       {{ReadRequest(), Send(Header("HTTP/1.0 302 Found\r\nLocation: file2\r\n") + "moved"), Stall()},
        {ReadRequest(), Send(Header(ok) + "second"), CloseConnection()}},
       "header-begin, header-end 302, location http://127.0.0.1:PORT/dir/file2, header-begin, "
       "header-end 200, doc-begin, doc-end, done 0",
       "second",
       200},
      {"RedirectClosedBeforeItsBlankLine",
       {{ReadRequest(), Send("HTTP/1.0 301 Moved\r\nLocation: /other/file\r\n"), CloseConnection()},
        {ReadRequest(), Send(Header(ok) + "there"), CloseConnection()}},
       "header-begin, header-end 301, location http://127.0.0.1:PORT/other/file, header-begin, "
       "header-end 200, doc-begin, doc-end, done 0",
       "there",
       200},
      {"RedirectToAnotherScheme",
       {{ReadRequest(), Send(Header("HTTP/1.0 302 Found\r\nLocation: ftp://127.0.0.1/f\r\n")), Stall()}},
       "header-begin, done 8",
       "",
       404},
      {"ChunkedBodySplitAcrossReads",
       {{ReadRequest(), Send(Header(ok + "Transfer-Encoding: chunked") + "5\r\nhel"), Pause(50),
         Send("lo\r\n1"), Pause(50), Send("0;ext=\"x\"\r\n world, again!!!\r"), Pause(50),
         Send("\n0\r\nX-Trailer: t\r\n"), Pause(50), Send("\r\n"), Stall()}},
       "header-begin, header-end 200, doc-begin, doc-end, done 0",
       "hello world, again!!!",
       200},
      {"ChunkedWinsOverContentLength",
       {{ReadRequest(),
         Send(Header(ok + "Content-Length: 3\r\nTransfer-Encoding: chunked") + "5\r\nhello\r\n0\r\n\r\n"),
         Stall()}},
       "header-begin, header-end 200, doc-begin, doc-end, done 0",
       "hello",
       200},
      {"ChunkedEndsAtItsLastChunkNotAtTheClose",
       {{ReadRequest(),
         Send(Header(ok + "Transfer-Encoding: Chunked\r\nConnection: close") +
              "5\r\nhello\r\n0\r\n\r\nNOT BODY"),
         CloseConnection()}},
       "header-begin, header-end 200, doc-begin, doc-end, done 0",
       "hello",
       200},
      {"ChunkedTruncatedBeforeTheLastChunk",
       {{ReadRequest(), Send(Header(ok + "Transfer-Encoding: chunked") + "5\r\nhello\r\n"),
         CloseConnection()}},
       "header-begin, header-end 200, doc-begin, doc-end, done 10",
       "hello",
       404},
      {"ChunkWithBadHex",
       {{ReadRequest(), Send(Header(ok + "Transfer-Encoding: chunked") + "5\r\nhello\r\nzz\r\nmore\r\n"),
         Stall()}},
       "header-begin, header-end 200, doc-begin, done 6",
       "hello",
       404},
      {"ChunkSizeOverflow",
       {{ReadRequest(), Send(Header(ok + "Transfer-Encoding: chunked") + "fffffffffffffffff\r\n"), Stall()}},
       "header-begin, header-end 200, done 6",
       "",
       404},
      {"OverlongChunkLine",
       {{ReadRequest(), Send(Header(ok + "Transfer-Encoding: chunked") + "5;" + std::string(5000, 'e')),
         Stall()}},
       "header-begin, header-end 200, done 4",
       "",
       404},
      {"UnsupportedTransferCoding",
       {{ReadRequest(), Send(Header(ok + "Transfer-Encoding: gzip, chunked") + "5\r\nhello\r\n0\r\n\r\n"),
         Stall()}},
       "header-begin, done 6",
       "",
       404},
      {"LocationOnASuccessIsNoRedirect",
       {{ReadRequest(), Send(Header(ok + "Location: /elsewhere\r\n") + "here"), CloseConnection()}},
       "header-begin, header-end 200, doc-begin, doc-end, done 0",
       "here",
       200},
  };
}

TEST_F(HttpScriptedTest, MisbehavingServers) {
  for (const ScriptedCase &c : Cases()) {
    SCOPED_TRACE(c.name);
    ScriptedServer server(c.connections);
    client = std::make_unique<THttpCli>(loop);
    recorder.attach(*client);
    Get(server.port());
    ASSERT_TRUE(WaitDone());
    loop.runOnce(20);
    std::string expected = c.transcript;
    if (auto at = expected.find("PORT"); at != std::string::npos)
      expected.replace(at, 4, std::to_string(server.port()));
    EXPECT_EQ(recorder.transcript(), expected);
    EXPECT_EQ(recorder.body, c.body);
    EXPECT_EQ(client->StatusCode(), c.status);
    EXPECT_EQ(client->State(), httpIdle);
  }
}

TEST_F(HttpScriptedTest, RequestTextAndRangeAcrossARedirect) {
  ScriptedServer server({{ReadRequest(), Send(Header("HTTP/1.0 302 Found\r\nLocation: /b?q=1\r\n")), Stall()},
                         {ReadRequest(),
                          Send(Header("HTTP/1.1 206 Partial\r\nContent-Range: bytes 1000-1004/5000\r\n"
                                      "Content-Length: 5\r\n") +
                               "12345"),
                          Stall()}});
  client->ContentRangeBegin = 1000;
  Get(server.port(), "/a%20b");
  ASSERT_TRUE(WaitDone());
  const std::string host = "127.0.0.1:" + std::to_string(server.port());
  const std::vector<std::string> requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0], "GET /a%20b HTTP/1.0\r\nAccept: */*\r\nUser-Agent: Velmora\r\nHost: " + host +
                             "\r\nRange: bytes=1000-\r\n\r\n");
  EXPECT_EQ(requests[1], "GET /b?q=1 HTTP/1.0\r\nAccept: */*\r\nUser-Agent: Velmora\r\nHost: " + host +
                             "\r\nRange: bytes=1000-\r\n\r\n");
  EXPECT_FALSE(client->ContentRangeBegin);
  EXPECT_EQ(client->ReplyContentRange().Begin, 1000);
  EXPECT_EQ(client->ReplyContentRange().Total, 5000);
  EXPECT_EQ(client->Location(), "http://" + host + "/b?q=1");
  EXPECT_EQ(recorder.body, "12345");
}

TEST_F(HttpScriptedTest, AWrongRangeStartIsReportedForTheCallerToRefuse) {
  ScriptedServer server(
      {{ReadRequest(),
        Send(Header("HTTP/1.0 206 Partial\r\nContent-Range: bytes 0-4/5\r\nContent-Length: 5") + "01234"),
        Stall()}});
  client->ContentRangeBegin = 1000;
  int64_t startSeenAtHeaderEnd = -2;
  client->OnHeaderEnd = [&](THttpCli &c) { startSeenAtHeaderEnd = c.ReplyContentRange().Begin; };
  Get(server.port());
  ASSERT_TRUE(WaitDone());
  EXPECT_EQ(startSeenAtHeaderEnd, 0);
  EXPECT_EQ(client->StatusCode(), 206);
}

TEST_F(HttpScriptedTest, NoStateLeaksIntoTheNextRequest) {
  ScriptedServer server({{ReadRequest(),
                          Send(Header("HTTP/1.0 206 Partial\r\nContent-Range: bytes "
                                      "0-1/10\r\nWWW-Authenticate: Basic realm=\"a\"\r\n"
                                      "Accept-Ranges: bytes\r\n") +
                               "ab"),
                          CloseConnection()},
                         {ReadRequest(), Send(Header("HTTP/1.0 200 OK\r\n") + "x"), CloseConnection()}});
  client->ContentRangeEnd = 1;
  Get(server.port());
  ASSERT_TRUE(WaitDone());
  EXPECT_EQ(client->AuthenticateValues().size(), 1u);
  recorder.done = 0;
  client->ContentRangeBegin = 5; // only the start: no end may be left over from the reply
  Get(server.port());
  ASSERT_TRUE(WaitDone());
  ASSERT_EQ(server.requests().size(), 2u);
  EXPECT_NE(server.requests()[1].find("Range: bytes=5-\r\n"), std::string::npos) << server.requests()[1];
  EXPECT_TRUE(client->AuthenticateValues().empty());
  EXPECT_EQ(client->AcceptRanges(), "");
  EXPECT_EQ(client->ReplyContentRange().Begin, -1);
}

TEST_F(HttpScriptedTest, CredentialsStayWithTheirServer) {
  ScriptedServer other({{ReadRequest(), Send(Header("HTTP/1.0 200 OK") + "x"), CloseConnection()}});
  ScriptedServer first({{ReadRequest(),
                         Send(Header("HTTP/1.0 302 Found\r\nLocation: http://u2:p2@127.0.0.1:" +
                                     std::to_string(other.port()) + "/x")),
                         Stall()}});
  client->Username = "user";
  client->Password = "secret";
  Get(first.port());
  ASSERT_TRUE(WaitDone());
  ASSERT_EQ(first.requests().size(), 1u);
  ASSERT_EQ(other.requests().size(), 1u);
  EXPECT_NE(first.requests()[0].find("Authorization: Basic dXNlcjpzZWNyZXQ=\r\n"), std::string::npos);
  EXPECT_EQ(other.requests()[0].find("Authorization"), std::string::npos) << other.requests()[0];
  EXPECT_EQ(client->Location(), "http://127.0.0.1:" + std::to_string(other.port()) + "/x");
}

TEST_F(HttpScriptedTest, RedirectsEndAfterTen) {
  std::vector<Script> loop11;
  for (int i = 0; i < 11; ++i)
    loop11.push_back({ReadRequest(), Send(Header("HTTP/1.0 302 Found\r\nLocation: /dir/file1")), Stall()});
  ScriptedServer server(loop11);
  Get(server.port());
  ASSERT_TRUE(WaitDone());
  EXPECT_EQ(client->ErrorCode(), httperr::TooManyRedirects);
  EXPECT_EQ(server.requests().size(), 11u);
  EXPECT_EQ(std::count(recorder.events.begin(), recorder.events.end(), "done 7"), 1);
}

TEST_F(HttpScriptedTest, StallsEndOnlyByAbort) {
  struct Case {
    Script script;
    const char *transcript;
  } cases[] = {
      {{ReadRequest(), Stall()}, "done 3"},
      {{ReadRequest(), Send(Header("HTTP/1.0 200 OK")), Stall()}, "header-begin, header-end 200, done 3"},
      {{ReadRequest(), Send("HTTP/1.0 200 OK\r\n"), Stall()}, "header-begin, header-end 404, done 3"},
      {{ReadRequest(), Send(Header("HTTP/1.0 200 OK") + "some"), Stall()},
       "header-begin, header-end 200, doc-begin, doc-end, done 3"},
  };
  for (const Case &c : cases) {
    ScriptedServer server({c.script});
    client = std::make_unique<THttpCli>(loop);
    recorder.attach(*client);
    Get(server.port());
    EXPECT_FALSE(RunUntil(
        loop, [&] { return recorder.done > 0; }, 300));
    client->Abort();
    EXPECT_EQ(client->State(), httpIdle);
    EXPECT_EQ(recorder.done, 0); // reported from the loop, never inside Abort
    ASSERT_TRUE(WaitDone());
    loop.runOnce(20);
    EXPECT_EQ(recorder.transcript(), c.transcript);
    EXPECT_EQ(client->ReasonPhrase(), "Connection aborted on request");
  }
}

TEST_F(HttpScriptedTest, FailuresBeforeAResponse) {
  client->URL = "http://nonexistent.invalid/";
  client->StartGet();
  ASSERT_TRUE(WaitDone());
  EXPECT_EQ(client->ErrorCode(), 11001);
  EXPECT_EQ(client->StatusCode(), 404);
  EXPECT_EQ(client->ReasonPhrase(), "can't resolve hostname to IP address");

  recorder.done = 0;
  client->URL = "http://127.0.0.1:1/";
  client->StartGet();
  ASSERT_TRUE(WaitDone());
  EXPECT_EQ(client->ErrorCode(), socketerr::ConnectionRefused);
  EXPECT_EQ(client->ReasonPhrase(), "Connection refused (Error #10061)");

  recorder.done = 0;
  client->URL = "http://127.0.0.1/a\r\nX-Injected: 1";
  client->StartGet();
  ASSERT_TRUE(WaitDone());
  EXPECT_EQ(client->ErrorCode(), httperr::InvalidRequest);
}

TEST_F(HttpScriptedTest, BusyAbortIdleAndAbortDuringLookup) {
  client->Abort(); // idle: nothing to report
  loop.runOnce(20);
  EXPECT_EQ(recorder.done, 0);
  client->URL = "http://localhost:1/";
  client->StartGet();
  EXPECT_EQ(client->State(), httpResolving);
  try {
    client->StartGet();
    FAIL() << "second request while busy";
  } catch (const EHttpException &error) {
    EXPECT_STREQ(error.what(), "HTTP component is busy");
    EXPECT_EQ(error.ErrorNumber, 1);
  }
  client->Abort();
  ASSERT_TRUE(WaitDone());
  RunUntil(
      loop, [] { return false; }, 200);
  EXPECT_EQ(recorder.transcript(), "done 3");
}

TEST_F(HttpScriptedTest, NextRequestMayStartInsideRequestDone) {
  ScriptedServer server({{ReadRequest(), Send(Header("HTTP/1.0 200 OK") + "one"), CloseConnection()},
                         {ReadRequest(), Send(Header("HTTP/1.0 200 OK") + "two"), CloseConnection()}});
  int finished = 0;
  client->OnRequestDone = [&](THttpCli &c, THttpRequest, uint16_t) {
    if (++finished == 1)
      c.StartGet();
  };
  Get(server.port());
  ASSERT_TRUE(RunUntil(loop, [&] { return finished == 2; }));
  EXPECT_EQ(client->ErrorCode(), 0) << client->ReasonPhrase();
  EXPECT_EQ(recorder.body, "onetwo");
}

} // namespace
} // namespace velmora
