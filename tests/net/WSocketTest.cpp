#include "net/WSocket.h"
#include "net/NetTestHelpers.h"
#include "net/ScriptedServer.h"
#include "net/SocketErrors.h"
#include "support/LoopRunner.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace velmora {
namespace {

using testing::RunUntil;
using testing::ScriptedServer;
using namespace velmora::testing;

class WSocketTest : public ::testing::Test {
protected:
  void TearDown() override {
    socket.reset();
    ExpectLoopDrained(loop);
  }

  void ConnectTo(uint16_t port) {
    socket->SetAddr("127.0.0.1");
    socket->SetPort(std::to_string(port));
    socket->Connect();
  }

  // Records every event as a short text.
  void Record() {
    socket->OnSessionConnected = [this](TWSocket &s, uint16_t error) {
      events.push_back("connected " + std::to_string(error) + " " + std::to_string(s.State()));
    };
    socket->OnSessionClosed = [this](TWSocket &, uint16_t error) {
      events.push_back("closed " + std::to_string(error));
    };
    socket->OnDataSent = [this](TWSocket &, uint16_t) { ++dataSent; };
    socket->OnDataAvailable = [this](TWSocket &s, uint16_t) {
      char buffer[4096];
      const int64_t got = s.Receive(buffer, sizeof buffer);
      if (got > 0)
        received.append(buffer, static_cast<std::size_t>(got));
    };
  }

  platform::EventLoop loop;
  std::unique_ptr<TWSocket> socket = std::make_unique<TWSocket>(loop);
  std::vector<std::string> events;
  std::string received;
  int dataSent = 0;
};

TEST(SocketErrorTable, DescribesNumbersAndMapsErrno) {
  EXPECT_EQ(WSocketErrorDesc(0), "No Error");
  EXPECT_EQ(WSocketErrorDesc(10061), "Connection refused");
  EXPECT_EQ(WSocketErrorDesc(11001), "Host not found");
  EXPECT_EQ(WSocketErrorDesc(42), "Not a WinSock error");
  const std::pair<int, int32_t> mapped[] = {{0, 0},          {ECONNREFUSED, 10061}, {ECONNRESET, 10054},
                                            {EAGAIN, 10035}, {ETIMEDOUT, 10060},    {ENOTCONN, 10057},
                                            {EPIPE, 10053},  {EHOSTUNREACH, 10065}, {EADDRINUSE, 10048}};
  for (auto [errnoValue, number] : mapped)
    EXPECT_EQ(SocketErrorFromErrno(errnoValue), number) << errnoValue;
}

TEST_F(WSocketTest, LiteralLookupCompletesInsideTheCall) {
  std::vector<uint16_t> done;
  socket->OnDnsLookupDone = [&](TWSocket &, uint16_t error) { done.push_back(error); };
  socket->DnsLookup("127.0.0.1");
  ASSERT_EQ(done, std::vector<uint16_t>{0});
  EXPECT_EQ(socket->DnsResult(), "127.0.0.1");
}

TEST_F(WSocketTest, HostLookupIsDeferredAndOnlyTheLastOneCounts) {
  std::vector<uint16_t> done;
  socket->OnDnsLookupDone = [&](TWSocket &, uint16_t error) { done.push_back(error); };
  socket->DnsLookup("nonexistent.invalid");
  socket->DnsLookup("localhost");
  EXPECT_TRUE(done.empty());
  ASSERT_TRUE(RunUntil(loop, [&] { return !done.empty(); }));
  loop.runOnce(50);
  ASSERT_EQ(done, std::vector<uint16_t>{0});
  EXPECT_EQ(socket->DnsResult(), "127.0.0.1");
  EXPECT_FALSE(socket->DnsResultList().empty());
}

TEST_F(WSocketTest, UnknownHostReportsHostNotFound) {
  std::vector<uint16_t> done;
  socket->OnDnsLookupDone = [&](TWSocket &, uint16_t error) { done.push_back(error); };
  socket->DnsLookup("nonexistent.invalid");
  ASSERT_TRUE(RunUntil(loop, [&] { return !done.empty(); }));
  EXPECT_EQ(done.front(), socketerr::HostNotFound);
  EXPECT_EQ(socket->DnsResult(), "");
}

TEST_F(WSocketTest, CancelReportsInterruptedAndDropsTheLateAnswer) {
  std::vector<uint16_t> done;
  socket->OnDnsLookupDone = [&](TWSocket &, uint16_t error) { done.push_back(error); };
  socket->DnsLookup("localhost");
  socket->CancelDnsLookup();
  ASSERT_EQ(done, std::vector<uint16_t>{socketerr::Interrupted});
  RunUntil(
      loop, [] { return false; }, 300);
  EXPECT_EQ(done.size(), 1u);
  EXPECT_EQ(socket->DnsResult(), "");
}

TEST_F(WSocketTest, AnswerForADestroyedSocketIsDropped) {
  int calls = 0;
  for (int i = 0; i < 20; ++i) {
    auto doomed = std::make_unique<TWSocket>(loop);
    doomed->OnDnsLookupDone = [&](TWSocket &, uint16_t) { ++calls; };
    doomed->DnsLookup("localhost");
  }
  RunUntil(
      loop, [] { return false; }, 300);
  EXPECT_EQ(calls, 0);
}

TEST_F(WSocketTest, MissingPropertiesAreRefused) {
  try {
    socket->SetAddr("127.0.0.1");
    socket->Connect();
    FAIL() << "connect without a port";
  } catch (const ESocketException &error) {
    EXPECT_STREQ(error.what(), "Connect: No Port Specified");
  }
  std::vector<std::string> messages;
  socket->OnError = [&](TWSocket &, const std::string &message) { messages.push_back(message); };
  socket->SetPort("80");
  socket->SetAddr("");
  socket->Connect();
  EXPECT_EQ(messages, std::vector<std::string>{"Connect: No IP Address Specified"});
}

TEST_F(WSocketTest, RefusedConnectReportsThenClosesOnce) {
  Record();
  ConnectTo(ClosedPort());
  EXPECT_EQ(socket->State(), wsConnecting);
  ASSERT_TRUE(RunUntil(loop, [&] { return events.size() >= 2; }));
  RunUntil(
      loop, [] { return false; }, 100);
  EXPECT_EQ(events, (std::vector<std::string>{"connected 10061 " + std::to_string(wsConnected), "closed 0"}));
  EXPECT_EQ(socket->State(), wsClosed);
  // After the close the address and port must be given again.
  try {
    socket->Connect();
    FAIL() << "connect after close";
  } catch (const ESocketException &error) {
    EXPECT_STREQ(error.what(), "Connect: No Port Specified");
  }
}

TEST_F(WSocketTest, PeerCloseComesOnceAfterEveryByte) {
  const std::string payload(200000, 'x');
  ScriptedServer server({{testing::Send(payload), testing::CloseConnection()}});
  Record();
  std::vector<TSocketState> states;
  socket->OnChangeState = [&](TWSocket &, TSocketState, TSocketState now) { states.push_back(now); };
  ConnectTo(server.port());
  ASSERT_TRUE(RunUntil(loop, [&] { return !events.empty() && events.back() == "closed 0"; }));
  RunUntil(
      loop, [] { return false; }, 100);
  EXPECT_EQ(received, payload);
  EXPECT_EQ(std::count(events.begin(), events.end(), "closed 0"), 1);
  EXPECT_EQ(states, (std::vector<TSocketState>{wsOpened, wsConnecting, wsConnected, wsClosed}));
  EXPECT_EQ(dataSent, 1); // the writable notice that comes with the connection
}

TEST_F(WSocketTest, ResetByPeerReportsTheError) {
  ScriptedServer server({{testing::Pause(50), testing::ResetConnection()}});
  Record();
  ConnectTo(server.port());
  ASSERT_TRUE(RunUntil(loop, [&] { return events.size() >= 2; }));
  EXPECT_EQ(events.back(), "closed 10054");
}

TEST_F(WSocketTest, SendIsQueuedAndDataSentComesLater) {
  ScriptedServer server({{testing::Drain()}});
  Record();
  ConnectTo(server.port());
  ASSERT_TRUE(RunUntil(loop, [&] { return socket->State() == wsConnected && dataSent == 1; }));
  std::string message(10000, '\0');
  for (std::size_t i = 0; i < message.size(); ++i)
    message[i] = static_cast<char>('a' + i % 26);
  int64_t reported = 0;
  socket->OnSendData = [&](TWSocket &, int64_t bytes) { reported += bytes; };
  EXPECT_EQ(socket->Send(message.data(), static_cast<int64_t>(message.size())), 10000);
  EXPECT_EQ(dataSent, 1);
  ASSERT_TRUE(RunUntil(loop, [&] { return dataSent == 2; }));
  EXPECT_EQ(reported, 10000);
  socket->Close();
  ASSERT_TRUE(RunUntil(loop, [&] { return server.finishedConnections() == 1; }));
  EXPECT_EQ(server.drained(), message);
  EXPECT_EQ(events.back(), "closed 0");
}

TEST_F(WSocketTest, LargeSendFillsTheQueueUntilThePeerReads) {
  // The peer reads nothing for a while, so the system buffers fill and the rest waits queued.
  ScriptedServer server({{testing::Pause(300), testing::Drain()}});
  Record();
  ConnectTo(server.port());
  ASSERT_TRUE(RunUntil(loop, [&] { return dataSent == 1; }));
  std::string message(32 << 20, '\0');
  for (std::size_t i = 0; i < message.size(); i += 4096)
    message[i] = static_cast<char>(i / 4096);
  EXPECT_EQ(socket->Send(message.data(), static_cast<int64_t>(message.size())),
            static_cast<int64_t>(message.size()));
  EXPECT_FALSE(socket->AllSent());
  ASSERT_TRUE(RunUntil(
      loop, [&] { return dataSent == 2; }, 20000));
  EXPECT_TRUE(socket->AllSent());
  socket->Close();
  ASSERT_TRUE(RunUntil(loop, [&] { return server.finishedConnections() == 1; }));
  EXPECT_TRUE(server.drained() == message);
}

TEST_F(WSocketTest, SendWhileClosedIsNotConnected) {
  try {
    socket->SendText("x");
    FAIL() << "send on a closed socket";
  } catch (const ESocketException &error) {
    EXPECT_EQ(error.ErrorCode, 10057);
    const std::string text = error.what();
    EXPECT_EQ(text.find("Error 10057 in function Send\r\n"), 0u) << text;
    EXPECT_TRUE(text.ends_with("Socket is not connected")) << text;
  }
  EXPECT_EQ(socket->LastError(), 10057);
  EXPECT_EQ(socket->SendText(""), 0);
}

TEST_F(WSocketTest, PropertiesChangeOnlyWhileClosed) {
  ScriptedServer server({{testing::Stall()}});
  Record();
  ConnectTo(server.port());
  const std::string port = std::to_string(server.port());
  EXPECT_NO_THROW(socket->SetPort(port)); // the value it already has
  try {
    socket->SetPort("81");
    FAIL() << "port changed while open";
  } catch (const ESocketException &error) {
    EXPECT_STREQ(error.what(), "Cannot change Port if not closed");
  }
  EXPECT_THROW(socket->SetLocalAddr("127.0.0.1"), ESocketException);
  socket->Close();
  EXPECT_THROW(socket->SetLocalAddr("1.2.3"), ESocketException);
  socket->SetLocalAddr("127.000.0.1");
  EXPECT_EQ(socket->LocalAddr(), "127.0.0.1");
}

TEST_F(WSocketTest, AbortResetsAndCloseEndsInOrder) {
  for (bool abort : {false, true}) {
    ScriptedServer server({{testing::Drain()}});
    socket = std::make_unique<TWSocket>(loop);
    Record();
    ConnectTo(server.port());
    ASSERT_TRUE(RunUntil(loop, [&] { return dataSent == 1; }));
    dataSent = 0;
    socket->SendText("bye");
    if (abort)
      socket->Abort();
    else
      socket->Close();
    EXPECT_EQ(socket->State(), wsClosed);
    EXPECT_EQ(events.back(), "closed 0");
    ASSERT_TRUE(RunUntil(loop, [&] { return server.finishedConnections() == 1; }));
    // A graceful close delivers what was queued; an abort may drop it but never adds to it.
    if (!abort) {
      EXPECT_EQ(server.drained(), "bye");
    }
    events.clear();
  }
}

TEST_F(WSocketTest, ExceptionInAHandlerAbortsTheSocket) {
  ScriptedServer server({{testing::Send("data"), testing::Stall()}});
  Record();
  socket->OnDataAvailable = [](TWSocket &, uint16_t) { throw std::runtime_error("handler failed"); };
  std::string caught;
  socket->OnBgException = [&](TWSocket &, const std::exception &error, bool &) { caught = error.what(); };
  ConnectTo(server.port());
  ASSERT_TRUE(RunUntil(loop, [&] { return socket->State() == wsClosed; }));
  EXPECT_EQ(caught, "handler failed");
  EXPECT_EQ(events.back(), "closed 0");
}

TEST_F(WSocketTest, OneReadNotificationTakesABoundedAmount) {
  // A peer that writes as fast as it can must not keep the loop inside one notification.
  std::atomic<bool> stop{false};
  TWSocket listener(loop);
  listener.SetAddr("127.0.0.1");
  listener.SetPort("0");
  listener.Listen();
  const uint16_t port = listener.GetSockName().Port;
  std::thread writer([&] {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
      std::string block(1 << 16, 'z');
      while (!stop && send(fd, block.data(), block.size(), MSG_NOSIGNAL) > 0) {
      }
    }
    close(fd);
  });
  listener.OnSessionAvailable = [&](TWSocket &s, uint16_t) { socket->Dup(s.Accept()); };
  int iteration = 0;
  bool ticking = true;
  std::function<void()> tick = [&] {
    if (!ticking)
      return;
    ++iteration;
    loop.post(tick);
  };
  loop.post(tick);
  int64_t largestPerIteration = 0, inIteration = 0;
  int lastIteration = -1;
  int64_t total = 0;
  socket->OnDataAvailable = [&](TWSocket &s, uint16_t) {
    char buffer[65536];
    const int64_t got = s.Receive(buffer, sizeof buffer);
    if (got <= 0)
      return;
    if (iteration != lastIteration) {
      lastIteration = iteration;
      inIteration = 0;
    }
    inIteration += got;
    total += got;
    largestPerIteration = std::max(largestPerIteration, inIteration);
  };
  RunUntil(
      loop, [&] { return total > (64 << 20); }, 15000);
  stop = true;
  socket->Close();
  listener.Close();
  writer.join();
  ticking = false;
  loop.runOnce(0);
  EXPECT_GT(total, 64 << 20);
  EXPECT_LE(largestPerIteration, TWSocket::kReadBudget + 65536);
  EXPECT_GT(iteration, 64);
}

TEST_F(WSocketTest, ListenAcceptDupCarryAConnection) {
  TWSocket listener(loop);
  TWSocket served(loop);
  listener.SetAddr("127.0.0.1");
  listener.SetPort("0");
  listener.Listen();
  EXPECT_EQ(listener.State(), wsListening);
  const TSockName name = listener.GetSockName();
  EXPECT_EQ(name.Addr, "127.0.0.1");
  ASSERT_NE(name.Port, 0);
  listener.OnSessionAvailable = [&](TWSocket &s, uint16_t) {
    served.Dup(s.Accept());
    served.SendText("hello");
    served.Close();
  };
  Record();
  ConnectTo(name.Port);
  ASSERT_TRUE(RunUntil(loop, [&] { return !events.empty() && events.back() == "closed 0"; }));
  EXPECT_EQ(received, "hello");
  EXPECT_EQ(served.State(), wsClosed);
  TWSocket notListening(loop);
  EXPECT_THROW(notListening.Accept(), ESocketException);
  listener.Close();
}

} // namespace
} // namespace velmora
