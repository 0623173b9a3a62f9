#include "engine/FtpPartDownloaderFixture.h"
#include "engine/PartFile.h"
#include "support/FtpScriptedServer.h"
#include "support/SmallDisk.h"

namespace velmora {
namespace {

using namespace velmora::testing;

const std::string kRemote = RemoteBytes(0, 10);

// One command and its reply.
FtpScript Answer(const std::string &reply) { return {Command(), Reply(reply + "\r\n")}; }

// Greeting, logon, TYPE, CWD and SIZE answered with sizeReply.
FtpScript UpToSize(const std::string &sizeReply) {
  return Logon() + Answer("200 Type set to I") + Answer("250 Directory changed") + Answer(sizeReply);
}

// PASV, the retrieve's REST (answered 350) and RETR sending data.
FtpScript Retrieve(const std::string &data) {
  return {Command(),
          PassiveReply(),
          Command(),
          Reply("350 Restarting\r\n"),
          Command(),
          AcceptData(),
          Reply("150 Opening BINARY mode data connection\r\n"),
          SendData(data),
          CloseData(),
          Reply("226 Transfer complete\r\n")};
}

const std::vector<std::string> kLogonCommands = {"USER anonymous", "PASS velmora@example.com", "TYPE I",
                                                 "CWD /pub/", "SIZE f.bin"};

std::vector<std::string> Then(std::vector<std::string> first, const std::vector<std::string> &second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

const std::string kUpToSize = "connecting, connected, connected, connected, connected";

struct PartCase {
  const char *name;
  std::string path;
  int64_t start, end;
  std::string initial; // the part file before; "-" for none
  int64_t presetSize;  // RemoteSize before the start, as a downloader that knows the record's size sets it
  FtpScript script;
  std::string transcript;
  std::vector<std::string> commands;
  std::string content; // the part file after
};

class FtpPartScripted : public FtpPartFixture {
protected:
  void SetUp() override {
    settings.WriteBool("Options", "PassiveMode", true);
    settings.WriteInteger("Options", "TimeOutTime", 2000);
  }
};

TEST_F(FtpPartScripted, RequestChainTable) {
  const PartCase cases[] = {
      {"whole file from a fresh part", "/pub/f.bin", 0, 0, "-", 0,
       UpToSize("213 10") + Answer("350 Restarting at 0") + Retrieve(kRemote),
       kUpToSize + ", size-known 10, resume-known yes, downloading, done",
       Then(kLogonCommands, {"REST 0", "PASV", "REST 0", "RETR f.bin"}), kRemote},
      {"REST refused for a part at 0: fetched again from its start", "/pub/f.bin", 0, 0, "XYZ", 0,
       UpToSize("213 10") + Answer("502 REST not implemented") +
           FtpScript{Command(), PassiveReply(), Command(), AcceptData(), Reply("150 Opening\r\n"),
                     SendData(kRemote), CloseData(), Reply("226 Transfer complete\r\n")},
       kUpToSize + ", size-known 10, resume-known no, downloading, done",
       Then(kLogonCommands, {"REST 3", "PASV", "RETR f.bin"}), kRemote},
      {"REST refused for a later part", "/pub/f.bin", 5, 9, "-", 0,
       UpToSize("213 10") + Answer("500 REST not understood"),
       kUpToSize + ", size-known 10, error Resume is not supported", Then(kLogonCommands, {"REST 5"}), ""},
      {"REST refused inside the retrieve", "/pub/f.bin", 5, 9, "-", 0,
       UpToSize("213 10") + Answer("350 Restarting at 5") +
           FtpScript{Command(), PassiveReply(), Command(), Reply("200 Thought better of it\r\n")},
       kUpToSize + ", size-known 10, resume-known yes, error Resume is not supported",
       Then(kLogonCommands, {"REST 5", "PASV", "REST 5"}), ""},
      {"size differs from the record's", "/pub/f.bin", 0, 0, "-", 11, UpToSize("213 10"),
       kUpToSize + ", error Filesize mismatch", kLogonCommands, ""},
      {"server without SIZE", "/pub/f.bin", 0, 0, "-", 0,
       UpToSize("500 Unknown command") + Answer("350 Restarting at 0") + Retrieve(kRemote),
       kUpToSize + ", size-known -1, resume-known yes, downloading, done",
       Then(kLogonCommands, {"REST 0", "PASV", "REST 0", "RETR f.bin"}), kRemote},
      {"SIZE answered 550", "/pub/f.bin", 0, 0, "-", 0, UpToSize("550 No such file"),
       kUpToSize + ", error File not found", kLogonCommands, ""},
      {"CWD refused; the address's names are percent-decoded",
       "/My%20Files/a%20b.bin",
       0,
       0,
       "-",
       0,
       Logon() + Answer("200 Type set to I") + Answer("550 No such directory"),
       "connecting, connected, connected, connected, error File not found",
       {"USER anonymous", "PASS velmora@example.com", "TYPE I", "CWD /My Files/"},
       ""},
      {"wrong password",
       "/pub/f.bin",
       0,
       0,
       "-",
       0,
       {Reply("220 x\r\n"), Command(), Reply("331 pass\r\n"), Command(), Reply("530 Login incorrect.\r\n")},
       "connecting, connected, error Couldn't login",
       {"USER anonymous", "PASS velmora@example.com"},
       ""},
      {"greeting refused",
       "/pub/f.bin",
       0,
       0,
       "-",
       0,
       {Reply("421 Too many connections from your address\r\n")},
       "connecting, error Couldn't connect to host",
       {},
       ""},
      {"TYPE I refused",
       "/pub/f.bin",
       0,
       0,
       "-",
       0,
       Logon() + Answer("504 Binary not allowed"),
       "connecting, connected, connected, error Couldn't connect to host",
       {"USER anonymous", "PASS velmora@example.com", "TYPE I"},
       ""},
      {"short transfer", "/pub/f.bin", 0, 0, "-", 0,
       UpToSize("213 10") + Answer("350 Restarting at 0") + Retrieve(kRemote.substr(0, 6)),
       kUpToSize + ", size-known 10, resume-known yes, downloading, error Lost connection to server",
       Then(kLogonCommands, {"REST 0", "PASV", "REST 0", "RETR f.bin"}), kRemote.substr(0, 6)},
      {"range stops one block past its end", "/pub/f.bin", 0, 3, "-", 0,
       UpToSize("213 10") + Answer("350 Restarting at 0") +
           FtpScript{Command(), PassiveReply(), Command(), Reply("350 Restarting\r\n"), Command(),
                     AcceptData(), Reply("150 Opening\r\n"), SendData(kRemote.substr(0, 6)), Wait(200),
                     SendData(kRemote.substr(6)), Wait(200), DrainData(), Reply("426 Transfer aborted\r\n")},
       kUpToSize + ", size-known 10, resume-known yes, downloading, range-complete, done",
       Then(kLogonCommands, {"REST 0", "PASV", "REST 0", "RETR f.bin"}), kRemote.substr(0, 6)},
  };
  for (const PartCase &c : cases) {
    SCOPED_TRACE(c.name);
    transcript.clear();
    ends = 0;
    FtpScriptedServer server({c.script + FtpScript{StallControl()}});
    Make("ftp://127.0.0.1:" + std::to_string(server.port()) + c.path, c.start, c.end);
    std::filesystem::remove(PartFile());
    if (c.initial != "-")
      WriteWholeFile(PartFile(), c.initial);
    part->RemoteSize = c.presetSize;
    Start();
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(Transcript(), c.transcript);
    EXPECT_EQ(ReadWholeFile(PartFile()), c.content);
    part.reset(); // ends the server's stall
    EXPECT_EQ(server.commands(), c.commands);
  }
}

TEST_F(FtpPartScripted, EveryStepHasATimeOut) {
  settings.WriteInteger("Options", "TimeOutTime", 300);
  const std::pair<const char *, FtpScript> stalls[] = {
      {"greeting", {}},
      {"TYPE", Logon()},
      {"SIZE", Logon() + Answer("200 Type set") + Answer("250 ok")},
      {"data connection",
       UpToSize("213 10") + Answer("350 ok") +
           FtpScript{Command(), PassiveReply(), Command(), Reply("350 ok\r\n"), Command()}},
      {"data", UpToSize("213 10") + Answer("350 ok") +
                   FtpScript{Command(), PassiveReply(), Command(), Reply("350 ok\r\n"), Command(),
                             AcceptData(), Reply("150 Opening\r\n"), SendData("abc")}},
  };
  for (const auto &[name, script] : stalls) {
    SCOPED_TRACE(name);
    transcript.clear();
    ends = 0;
    FtpScriptedServer server({script + FtpScript{StallControl()}});
    Make("ftp://127.0.0.1:" + std::to_string(server.port()) + "/pub/f.bin", 0, 0);
    Start();
    ASSERT_TRUE(RunToEnd(1, 5000));
    EXPECT_EQ(transcript.back(), "error Timeout");
    EXPECT_EQ(part->ErrorState, fmeConnectionLost);
  }
}

TEST_F(FtpPartScripted, ActiveModeByDefault) {
  settings.WriteBool("Options", "PassiveMode", false);
  FtpScriptedServer server({UpToSize("213 10") + Answer("350 Restarting at 0") +
                            FtpScript{Command(), Reply("200 PORT ok\r\n"), Command(), Reply("350 ok\r\n"),
                                      Command(), ConnectData(), Reply("150 Opening\r\n"), SendData(kRemote),
                                      CloseData(), Reply("226 Done\r\n"), StallControl()}});
  Make("ftp://127.0.0.1:" + std::to_string(server.port()) + "/pub/f.bin", 0, 0);
  Start();
  ASSERT_TRUE(RunToEnd());
  EXPECT_EQ(transcript.back(), "done");
  EXPECT_EQ(ReadWholeFile(PartFile()), kRemote);
  part.reset();
  EXPECT_EQ(server.commands().at(6).substr(0, 15), "PORT 127,0,0,1,");
}

TEST_F(FtpPartScripted, ProxyGetsTheServerInTheUserNameAndPassiveMode) {
  settings.WriteBool("Options", "PassiveMode", false);
  FtpScriptedServer proxy(
      {UpToSize("213 10") + Answer("350 Restarting at 0") + Retrieve(kRemote) + FtpScript{StallControl()}});
  settings.WriteBool("Options", "UseFTPProxy", true);
  settings.WriteString("Options", "FTPProxyAddress", "127.0.0.1");
  settings.WriteString("Options", "FTPProxyPort", std::to_string(proxy.port()));
  Make("ftp://u:p@files.example.org:2121/pub/f.bin", 0, 0);
  Start();
  ASSERT_TRUE(RunToEnd());
  EXPECT_EQ(transcript.back(), "done");
  part.reset();
  const std::vector<std::string> commands = proxy.commands();
  ASSERT_GE(commands.size(), 7u);
  EXPECT_EQ(commands[0], "USER u@files.example.org:2121");
  EXPECT_EQ(commands[1], "PASS p");
  EXPECT_EQ(commands[6], "PASV");
}

// Credentials given for the server log on in place of the address's, as they were typed, also
// through the proxy; a source without a user for the server leaves the address's, decoded.
TEST_F(FtpPartScripted, LogsOnWithTheGivenCredentials) {
  class Given : public ISiteCredentials {
  public:
    void SetCredentials(const TUrl &, const std::string &, const std::string &,
                        const std::string &) override {}
    std::string GetUser(const TUrl &, const std::string &) override { return user; }
    std::string GetPassword(const TUrl &, const std::string &) override { return password; }
    std::string user, password;
  } given;
  TFtpPartContext withGiven{loop, settings, Environment(), words, &given};
  const struct {
    const char *name;
    std::string user, password; // what the source gives
    std::string userInfo;       // of the address
    bool proxy;
    std::vector<std::string> logon;
  } cases[] = {
      {"given, as typed", "bob", "p%41ss", "alice:a@", false, {"USER bob", "PASS p%41ss"}},
      {"none given: the address's, decoded", "", "unused", "a%40b:c%3Ad@", false, {"USER a@b", "PASS c:d"}},
      {"none given, none in the address", "", "", "", false, {"USER anonymous", "PASS velmora@example.com"}},
      {"given, through the proxy", "bob", "pw", "u:p@", true, {"USER bob@files.example.org:2121", "PASS pw"}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    transcript.clear();
    ends = 0;
    given.user = c.user;
    given.password = c.password;
    FtpScriptedServer server(
        {UpToSize("213 10") + Answer("350 Restarting at 0") + Retrieve(kRemote) + FtpScript{StallControl()}});
    const std::string port = std::to_string(server.port());
    settings.WriteBool("Options", "UseFTPProxy", c.proxy);
    settings.WriteString("Options", "FTPProxyAddress", "127.0.0.1");
    settings.WriteString("Options", "FTPProxyPort", port);
    MakePart(part, withGiven,
             "ftp://" + c.userInfo + (c.proxy ? "files.example.org:2121" : "127.0.0.1:" + port) +
                 "/pub/f.bin",
             0, 0);
    Start();
    ASSERT_TRUE(RunToEnd());
    EXPECT_EQ(transcript.back(), "done");
    part.reset();
    const std::vector<std::string> commands = server.commands();
    ASSERT_GE(commands.size(), 2u);
    EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.begin() + 2), c.logon);
  }
}

TEST_F(FtpPartScripted, ProxySwitchWithoutAnAddressConnectsDirectly) {
  environment["ftp_proxy"] = "http://proxy.example:3128/"; // makes UseFTPProxy true by default
  FtpScriptedServer server(
      {UpToSize("213 10") + Answer("350 Restarting at 0") + Retrieve(kRemote) + FtpScript{StallControl()}});
  Make("ftp://127.0.0.1:" + std::to_string(server.port()) + "/pub/f.bin", 0, 0);
  Start();
  ASSERT_TRUE(RunToEnd());
  EXPECT_EQ(transcript.back(), "done");
}

TEST_F(FtpPartScripted, IdleConnectionIsReusedForTheNextRange) {
  FtpScriptedServer server(
      {UpToSize("213 10") + Answer("350 Restarting at 0") + Retrieve(kRemote.substr(0, 5)) +
       FtpScript{Command(), PassiveReply(), Command(), Reply("350 Restarting at 5\r\n"), Command(),
                 AcceptData(), Reply("150 Opening\r\n"), SendData(kRemote.substr(5)), CloseData(),
                 Reply("226 Done\r\n"), StallControl()}});
  Make("ftp://127.0.0.1:" + std::to_string(server.port()) + "/pub/f.bin", 0, 4);
  Start();
  ASSERT_TRUE(RunToEnd());
  EXPECT_EQ(transcript.back(), "done");
  EXPECT_TRUE(part->Client()->Connected());
  part->StartByte = 5;
  part->EndByte = 9;
  part->PartFileName = dir.file("T.5");
  Start();
  ASSERT_TRUE(RunToEnd(2));
  EXPECT_EQ(transcript.back(), "done");
  EXPECT_EQ(ReadWholeFile(dir.file("T.5")), kRemote.substr(5));
  part.reset();
  const std::vector<std::string> commands = server.commands();
  EXPECT_EQ(std::vector<std::string>(commands.end() - 3, commands.end()),
            (std::vector<std::string>{"PASV", "REST 5", "RETR f.bin"}));
  EXPECT_EQ(commands.size(), kLogonCommands.size() + 7);
}

TEST_F(FtpPartScripted, AFullDiskSaysSo) {
  SmallDisk disk(dir.path(), 64 * 1024);
  ASSERT_TRUE(disk.mounted()) << disk.error();
  const std::string remote = RemoteBytes(0, 1024 * 1024);
  FtpScriptedServer server({UpToSize("213 " + std::to_string(remote.size())) + Answer("350 Restarting at 0") +
                            Retrieve(remote) + FtpScript{StallControl()}});
  Make("ftp://127.0.0.1:" + std::to_string(server.port()) + "/pub/f.bin", 0, 0);
  Start();
  ASSERT_TRUE(RunToEnd()) << Transcript();
  EXPECT_EQ(transcript.back(), "error Couldn't write " + PartFile() + ": No space left on device");
  const std::string kept = ReadWholeFile(PartFile());
  EXPECT_TRUE(kept == remote.substr(0, kept.size()));
}

TEST_F(FtpPartScripted, CompletePartFileAndAbortNeedNoServer) {
  Make("ftp://127.0.0.1:1/pub/f.bin", 0, 3);
  WriteWholeFile(PartFile(), "abcd");
  Start();
  ASSERT_TRUE(RunToEnd());
  EXPECT_EQ(Transcript(), "done");
  part->Abort();
  EXPECT_EQ(transcript.back(), "aborted");
  EXPECT_FALSE(std::filesystem::exists(PartFile()));
}

} // namespace
} // namespace velmora
