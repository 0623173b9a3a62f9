#include "net/FtpCli.h"
#include "net/NetTestHelpers.h"
#include "net/SocketErrors.h"
#include "support/FtpScriptedServer.h"
#include "support/LoopRunner.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

using namespace velmora::testing;

// The commands after the logon, with "*" at the end of an expected one matching any rest, and a last
// one ending in "?" that may be missing (a failure racing the command it would answer).
void ExpectCommands(const std::vector<std::string> &actual, std::vector<std::string> expected) {
  if (!expected.empty() && expected.back().back() == '?') {
    expected.back().pop_back();
    if (actual.size() + 1 == expected.size())
      expected.pop_back();
  }
  ASSERT_EQ(actual.size(), expected.size()) << ::testing::PrintToString(actual);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (!expected[i].empty() && expected[i].back() == '*')
      EXPECT_EQ(actual[i].substr(0, expected[i].size() - 1), expected[i].substr(0, expected[i].size() - 1));
    else
      EXPECT_EQ(actual[i], expected[i]);
  }
}

class FtpClientScripted : public ::testing::Test {
protected:
  FtpClientScripted() { NewClient(); }

  ~FtpClientScripted() override {
    client.reset();
    ExpectLoopDrained(loop);
  }

  // A fresh client; the end of each request is recorded, and must come through the loop.
  void NewClient() {
    client = std::make_unique<TFtpClient>(loop);
    client->OnRequestDone = [this](TFtpClient &, TFtpRequest type, uint16_t error) {
      EXPECT_FALSE(insideCall) << "OnRequestDone must come through the loop";
      doneType = type;
      doneError = error;
      ++doneCount;
    };
  }

  void Use(uint16_t port) {
    client->HostName = "127.0.0.1";
    client->Port = std::to_string(port);
    client->UserName = "u";
    client->PassWord = "p";
    client->Timeout = 2000;
  }
  void Use(const FtpScriptedServer &server) { Use(server.port()); }

  // Logs on to a server that runs SlowRetrieve() and readies a passive retrieve of its file
  // into "part".
  void PrepareSlowGet(const FtpScriptedServer &server) {
    Use(server);
    ASSERT_EQ(Await([&] { client->Connect(); }), 0);
    client->Passive = true;
    client->HostFileName = "f";
    client->LocalFileName = dir.file("part");
  }

  // Starts a request and runs the loop until it has ended; returns its error.
  template <class Start> uint16_t Await(Start start) {
    const int before = doneCount;
    insideCall = true;
    start();
    insideCall = false;
    EXPECT_TRUE(RunUntil(loop, [&] { return doneCount > before; }));
    return doneError;
  }

  platform::EventLoop loop;
  std::unique_ptr<TFtpClient> client;
  TempDir dir;
  bool insideCall = false;
  int doneCount = 0;
  TFtpRequest doneType = ftpReqNone;
  uint16_t doneError = 0;
};

struct LogonCase {
  const char *name;
  FtpScript script;
  uint16_t error;
  int32_t statusCode;
  std::vector<std::string> commands;
  std::string errorMessage;
};

TEST_F(FtpClientScripted, LogonRepliesTable) {
  const std::string longBanner = [] {
    std::string text;
    for (int i = 0; i < 2000; ++i)
      text += "220-" + std::string(60, 'b') + "\r\n";
    return text;
  }();
  const LogonCase cases[] = {
      {"user and password", Logon() + FtpScript{StallControl()}, 0, 230, {"USER u", "PASS p"}, ""},
      {"230 to USER sends no PASS",
       {Reply("220 x\r\n"), Command(), Reply("230 no password needed\r\n"), StallControl()},
       0,
       230,
       {"USER u"},
       ""},
      {"wrong password",
       {Reply("220 x\r\n"), Command(), Reply("331 pass\r\n"), Command(), Reply("530 Login incorrect.\r\n"),
        StallControl()},
       530,
       530,
       {"USER u", "PASS p"},
       "530 Login incorrect."},
      {"multi-line greeting ends only at the same code and a blank",
       {Reply("220-Welcome\r\n220-\r\n 220 indented text\r\n221 another code\r\n220-more\r\n220 ready\r\n"),
        Command(), Reply("230-Hello\r\n230 in\r\n"), StallControl()},
       0,
       230,
       {"USER u"},
       ""},
      {"120 before the greeting",
       {Reply("120 wait a moment\r\n"), Wait(50), Reply("220 now\r\n"), Command(), Reply("230 in\r\n"),
        StallControl()},
       0,
       230,
       {"USER u"},
       ""},
      {"bare LF ends lines",
       {Reply("220 x\n"), Command(), Reply("331 p\n"), Command(), Reply("230 in\n"), StallControl()},
       0,
       230,
       {"USER u", "PASS p"},
       ""},
      {"greeting refused", {Reply("421 Too many connections.\r\n"), StallControl()}, 421, 421, {}, ""},
      {"reply line too long",
       {Reply(std::string(5000, 'x')), StallControl()},
       ftperr::LineTooLong,
       0,
       {},
       ""},
      {"multi-line reply too long", {Reply(longBanner), StallControl()}, ftperr::ReplyTooLong, 220, {}, ""},
      {"reply code not three digits",
       {Reply("2200 hello\r\n"), StallControl()},
       ftperr::MalformedReply,
       0,
       {},
       ""},
      {"closed during logon",
       {Reply("220 x\r\n"), Command(), CloseControl()},
       ftperr::ConnectionLost,
       220,
       {"USER u"},
       "Connection closed by the server"},
      {"stall after the greeting",
       {Reply("220 x\r\n"), Command(), StallControl()},
       ftperr::Timeout,
       220,
       {"USER u"},
       ""},
  };
  for (const LogonCase &c : cases) {
    SCOPED_TRACE(c.name);
    NewClient();
    FtpScriptedServer server({c.script});
    Use(server);
    client->Timeout = 400;
    bool greeted = false;
    client->OnSessionConnected = [&](TFtpClient &, uint16_t) { greeted = true; };
    EXPECT_EQ(Await([&] { client->Connect(); }), c.error);
    EXPECT_EQ(doneType, ftpReqConnect);
    EXPECT_EQ(client->StatusCode(), c.statusCode);
    // Only an answer that leaves the dialogue in step keeps the connection.
    EXPECT_EQ(client->Connected(), c.error == 0 || c.error == 530);
    EXPECT_EQ(client->ControlOpen(), client->Connected());
    EXPECT_EQ(client->State(), ftpIdle);
    if (!c.errorMessage.empty()) {
      EXPECT_EQ(client->ErrorMessage(), c.errorMessage);
    }
    EXPECT_EQ(greeted, !c.commands.empty()) << "USER follows the greeting";
    client.reset(); // ends the server's stall
    ExpectCommands(server.commands(), c.commands);
  }
}

TEST_F(FtpClientScripted, ConnectRefusedReportsTheSocketError) {
  Use(ClosedPort());
  EXPECT_EQ(Await([&] { client->Connect(); }), socketerr::ConnectionRefused);
  EXPECT_EQ(client->StatusCode(), 500);
  EXPECT_EQ(client->LastResponse(), "500 Connection refused (Winsock error #10061)");
  EXPECT_FALSE(client->Connected());
}

TEST_F(FtpClientScripted, SingleCommandsOnOneConnection) {
  FtpScriptedServer server(
      {Logon() + FtpScript{Command(), Reply("200 Type set to I\r\n"), Command(),
                           Reply("257 \"/pub\" is current\r\n"), Command(), Reply("213 5000000000\r\n"),
                           Command(), Reply("350 Restarting\r\n"), Command(),
                           Reply("213 99999999999999999999\r\n"), Command(),
                           Reply("550 No such directory\r\n"), StallControl()}});
  Use(server);
  ASSERT_EQ(Await([&] { client->Connect(); }), 0);
  EXPECT_EQ(Await([&] { client->SetBinaryType(); }), 0);
  EXPECT_EQ(doneType, ftpReqTypeSet);
  client->HostDirName = "/pub/";
  EXPECT_EQ(Await([&] { client->ChangeDir(); }), 0) << "any 2xx changes the directory";
  client->HostFileName = "big.iso";
  EXPECT_EQ(Await([&] { client->QuerySize(); }), 0);
  EXPECT_EQ(client->SizeResult(), 5000000000);
  client->StartDownloadAt = 4294967296;
  client->Options |= ftpNoAutoStartDownloadAt;
  EXPECT_EQ(Await([&] { client->SendRest(); }), 0);
  EXPECT_EQ(client->StatusCode(), 350);
  EXPECT_EQ(Await([&] { client->QuerySize(); }), 0);
  EXPECT_EQ(client->SizeResult(), -1) << "a size beyond 63 bits is no size";
  client->HostDirName = "/gone/";
  EXPECT_EQ(Await([&] { client->ChangeDir(); }), 550);
  EXPECT_EQ(client->ErrorMessage(), "550 No such directory");
  EXPECT_TRUE(client->Connected());
  client.reset();
  ExpectCommands(server.commands(), {"USER u", "PASS p", "TYPE I", "CWD /pub/", "SIZE big.iso",
                                     "REST 4294967296", "SIZE big.iso", "CWD /gone/"});
}

TEST_F(FtpClientScripted, RequestsRefusedAtTheCall) {
  EXPECT_THROW(
      {
        try {
          client->SetBinaryType();
        } catch (const FtpException &e) {
          EXPECT_STREQ(e.what(), "FTP component not connected");
          throw;
        }
      },
      FtpException);
  EXPECT_THROW(client->Connect(), FtpException) << "UserName emtpy";
  FtpScriptedServer server({Logon() + FtpScript{StallControl()}});
  Use(server);
  client->Connect();
  try {
    client->Connect();
    ADD_FAILURE() << "a second request while one runs";
  } catch (const FtpException &e) {
    EXPECT_STREQ(e.what(), "FTP component not ready");
  }
  ASSERT_TRUE(RunUntil(loop, [&] { return doneCount == 1; }));
  EXPECT_EQ(doneError, 0);
  try {
    client->Connect();
    ADD_FAILURE() << "connect while connected";
  } catch (const FtpException &e) {
    EXPECT_STREQ(e.what(), "FTP component already connected");
  }
  EXPECT_THROW(client->RestGet(), FtpException) << "LocalFileName empty";
  client->LocalFileName = dir.file("f");
  for (const std::string &unsafe : {std::string("a\r\nDELE b"), std::string("a\0b", 3)}) {
    client->HostFileName = unsafe;
    EXPECT_THROW(client->RestGet(), FtpException);
    EXPECT_THROW(client->QuerySize(), FtpException);
  }
  EXPECT_FALSE(client->RequestPending());
}

struct RetrieveCase {
  const char *name;
  bool passive;
  std::string initial; // the local file before; "-" for none
  int64_t startAt;     // StartDownloadAt, sent as it stands
  int64_t localStartAt;
  FtpScript steps; // after the logon
  uint16_t error;
  std::string content; // the local file after
  std::vector<std::string> commands;
};

TEST_F(FtpClientScripted, RetrievesTable) {
  const FtpScript pasv = {Command(), PassiveReply()};
  const FtpScript restAccepted = {Command(), Reply("350 Restarting at 1004\r\n")};
  // RETR answered with "TAIL" on the data connection and a clean end.
  const FtpScript tailSent = {Command(),        AcceptData(), Reply("150 Opening\r\n"),
                              SendData("TAIL"), CloseData(),  Reply("226 Done\r\n")};
  const uint16_t closedPort = ClosedPort();
  const RetrieveCase cases[] = {
      {"restart in passive mode, the 227 address ignored",
       true,
       "HEAD",
       1004,
       4,
       FtpScript{Command(), PassiveReply("10,9,9,9")} + restAccepted + tailSent,
       0,
       "HEADTAIL",
       {"PASV", "REST 1004", "RETR f.bin"}},
      {"226 before the data ends",
       true,
       "HEAD",
       1004,
       4,
       pasv + restAccepted +
           FtpScript{Command(), AcceptData(), Reply("150 Opening\r\n226 Done\r\n"), Wait(150),
                     SendData("TAIL"), CloseData()},
       0,
       "HEADTAIL",
       {"PASV", "REST 1004", "RETR f.bin"}},
      {"REST refused with 502: no RETR",
       true,
       "HEAD",
       1004,
       4,
       pasv + FtpScript{Command(), Reply("502 REST not implemented\r\n")},
       502,
       "HEAD",
       {"PASV", "REST 1004"}},
      {"REST answered with 200 is a refusal too",
       true,
       "HEAD",
       1004,
       4,
       pasv + FtpScript{Command(), Reply("200 whatever\r\n")},
       200,
       "HEAD",
       {"PASV", "REST 1004"}},
      {"negative start sends no REST and rewrites the file",
       true,
       "HEAD",
       -1,
       0,
       pasv + tailSent,
       0,
       "TAIL",
       {"PASV", "RETR f.bin"}},
      {"writes from LocalStartAt without cutting the file",
       true,
       std::string(300, 'x'),
       5000,
       100,
       pasv + restAccepted + tailSent,
       0,
       std::string(100, 'x') + "TAIL" + std::string(196, 'x'),
       {"PASV", "REST 5000", "RETR f.bin"}},
      {"LocalStartAt beyond the file's end",
       true,
       "HEAD",
       1004,
       10,
       pasv + restAccepted,
       550,
       "HEAD",
       {"PASV", "REST 1004"}},
      {"RETR refused",
       true,
       "HEAD",
       1004,
       4,
       pasv + restAccepted + FtpScript{Command(), Reply("550 No such file\r\n")},
       550,
       "HEAD",
       {"PASV", "REST 1004", "RETR f.bin"}},
      {"data connection reset in the middle",
       true,
       "HEAD",
       1004,
       4,
       pasv + restAccepted +
           FtpScript{Command(), AcceptData(), Reply("150 Opening\r\n"), SendData("TA"), Wait(100),
                     ResetData(), Reply("426 Connection closed; transfer aborted\r\n")},
       426,
       "HEADTA",
       {"PASV", "REST 1004", "RETR f.bin"}},
      {"passive port where nothing listens",
       true,
       "HEAD",
       1004,
       4,
       FtpScript{Command(), Reply("227 Entering Passive Mode (127,0,0,1," + std::to_string(closedPort / 256) +
                                  "," + std::to_string(closedPort % 256) + ")\r\n")} +
           restAccepted + FtpScript{Command()},
       550,
       "HEAD",
       // The refused data connection may be noticed before the retrieve is sent.
       {"PASV", "REST 1004", "RETR f.bin?"}},
      {"active mode takes data only from the server's address",
       false,
       "HEAD",
       1004,
       4,
       FtpScript{Command(), Reply("200 PORT ok\r\n")} + restAccepted +
           FtpScript{Command(), ConnectData("127.0.0.2"), SendData("EVIL"), Wait(100),
                     ConnectData("127.0.0.1"), Reply("150 Opening\r\n"), SendData("TAIL"), CloseData(),
                     Reply("226 Done\r\n")},
       0,
       "HEADTAIL",
       {"PORT 127,0,0,1,*", "REST 1004", "RETR f.bin"}},
      {"stall while waiting for data",
       true,
       "HEAD",
       1004,
       4,
       pasv + restAccepted + FtpScript{Command(), AcceptData(), Reply("150 Opening\r\n")},
       ftperr::Timeout,
       "HEAD",
       {"PASV", "REST 1004", "RETR f.bin"}},
  };
  for (const RetrieveCase &c : cases) {
    SCOPED_TRACE(c.name);
    NewClient();
    FtpScriptedServer server({Logon() + c.steps + FtpScript{StallControl()}});
    Use(server);
    client->Timeout = 500;
    const std::string local = dir.file("part");
    std::filesystem::remove(local);
    if (c.initial != "-")
      WriteWholeFile(local, c.initial);
    ASSERT_EQ(Await([&] { client->Connect(); }), 0);
    client->Passive = c.passive;
    client->HostFileName = "f.bin";
    client->LocalFileName = local;
    client->Options |= ftpNoAutoStartDownloadAt;
    client->StartDownloadAt = c.startAt;
    client->LocalStartAt = c.localStartAt;
    EXPECT_EQ(Await([&] { client->RestGet(); }), c.error);
    EXPECT_EQ(doneType, ftpReqRestGet);
    EXPECT_EQ(ReadWholeFile(local), c.content);
    EXPECT_EQ(client->RestRefused(), c.error == 502 || c.error == 200);
    client.reset();
    std::vector<std::string> commands = server.commands();
    commands.erase(commands.begin(), commands.begin() + std::min<std::size_t>(2, commands.size()));
    ExpectCommands(commands, c.commands);
  }
}

// A retrieve that sends 150 bytes every 200 ms until the client closes the data connection.
FtpScript SlowRetrieve() {
  FtpScript script =
      Logon() + FtpScript{Command(), PassiveReply(), Command(), AcceptData(), Reply("150 go\r\n")};
  for (int i = 0; i < 5; ++i)
    script = script + FtpScript{SendData(std::string(150, 'd')), Wait(200)};
  return script + FtpScript{DrainData(), Reply("426 Transfer aborted\r\n"), StallControl()};
}

TEST_F(FtpClientScripted, AbortInProgressEndsAfterTheServersReply) {
  FtpScriptedServer server({SlowRetrieve()});
  ASSERT_NO_FATAL_FAILURE(PrepareSlowGet(server));
  std::vector<int64_t> counts;
  client->OnProgress = [&](TFtpClient &, int64_t count, bool &abort) {
    counts.push_back(count);
    abort = count > 0;
  };
  EXPECT_EQ(Await([&] { client->Get(); }), 426);
  EXPECT_EQ(counts, (std::vector<int64_t>{0, 150}));
  EXPECT_EQ(ReadWholeFile(dir.file("part")).size(), 150u);
  EXPECT_TRUE(client->Connected()) << "the reply kept the connection in step";
}

TEST_F(FtpClientScripted, EndDownloadAtStopsOnceTheTransferPassedIt) {
  FtpScriptedServer server({SlowRetrieve()});
  ASSERT_NO_FATAL_FAILURE(PrepareSlowGet(server));
  client->EndDownloadAt = 199; // 200 bytes wanted: the second block passes it
  EXPECT_EQ(Await([&] { client->Get(); }), 426);
  EXPECT_EQ(ReadWholeFile(dir.file("part")).size(), 300u);
}

TEST_F(FtpClientScripted, DisconnectInsideAnEventSilencesEverything) {
  FtpScriptedServer server({SlowRetrieve()});
  ASSERT_NO_FATAL_FAILURE(PrepareSlowGet(server));
  bool disconnected = false;
  client->OnProgress = [&](TFtpClient &sender, int64_t, bool &) {
    sender.Disconnect();
    disconnected = true;
  };
  const int before = doneCount;
  client->Get();
  ASSERT_TRUE(RunUntil(loop, [&] { return disconnected; }));
  RunUntil(
      loop, [] { return false; }, 300);
  EXPECT_EQ(doneCount, before) << "no OnRequestDone after Disconnect";
  EXPECT_FALSE(client->ControlOpen());
  EXPECT_EQ(client->State(), ftpIdle);
}

} // namespace
} // namespace velmora
