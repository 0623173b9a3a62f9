#include "net/Icmp.h"
#include "net/Ping.h"
#include "platform/IcmpSocket.h"
#include "support/NetworkNamespace.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using velmora::TICMP;
using velmora::TICMPException;
using velmora::TIcmpResolved;
using velmora::TPing;
using velmora::platform::IcmpSocketKind;
using velmora::testing::EnteredNamespace;
using velmora::testing::NetworkNamespace;

namespace {

const std::vector<IcmpSocketKind> kBothKinds = {IcmpSocketKind::Datagram, IcmpSocketKind::Raw};

const char *kindName(IcmpSocketKind kind) { return kind == IcmpSocketKind::Datagram ? "datagram" : "raw"; }

uint32_t ipv4(const char *dotted) {
  in_addr address{};
  inet_pton(AF_INET, dotted, &address);
  return address.s_addr;
}

int64_t millisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
      .count();
}

// A namespace of the test's own in which echo requests go unanswered unless the test answers
// them itself, and in which any process may open the unprivileged socket kind.
class SilentNamespace {
public:
  SilentNamespace() {
    if (space.created() && (!space.setSysctl("net/ipv4/icmp_echo_ignore_all", "1") ||
                            !space.setSysctl("net/ipv4/ping_group_range", "0 2147483647")))
      problem = "cannot set the ICMP sysctls inside " + space.name();
  }
  // Empty when the namespace is ready.
  std::string missing() const { return !space.created() ? space.error() : problem; }

  NetworkNamespace space;
  std::string problem;
};

// Answers the first echo request it sees with a scripted series of echo replies, each from a
// chosen source address and with the identifier or sequence number shifted as asked.
class ScriptedResponder {
public:
  struct Reply {
    const char *from;
    int identifierShift;
    int sequenceShift;
  };

  explicit ScriptedResponder(std::vector<Reply> script) : script_(std::move(script)) {
    listener_ = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (listener_ >= 0)
      thread_ = std::thread([this] { answer(); });
  }
  ~ScriptedResponder() {
    if (thread_.joinable())
      thread_.join();
    if (listener_ >= 0)
      ::close(listener_);
  }
  bool ready() const { return listener_ >= 0; }
  void finish() {
    if (thread_.joinable())
      thread_.join();
  }
  std::string requestData; // written by the thread, read after finish()

private:
  void answer() {
    std::vector<uint8_t> packet(65536);
    const auto start = std::chrono::steady_clock::now();
    while (millisecondsSince(start) < 3000) {
      pollfd waiting{listener_, POLLIN, 0};
      if (::poll(&waiting, 1, 100) <= 0)
        continue;
      const ssize_t length = ::recv(listener_, packet.data(), packet.size(), 0);
      if (length < 28)
        continue;
      const std::size_t header = static_cast<std::size_t>(packet[0] & 0x0f) * 4;
      const uint8_t *icmp = packet.data() + header;
      if (static_cast<std::size_t>(length) < header + 8 || icmp[0] != 8)
        continue;
      requestData.assign(reinterpret_cast<const char *>(icmp + 8),
                         static_cast<std::size_t>(length) - header - 8);
      const uint16_t identifier = static_cast<uint16_t>((icmp[4] << 8) | icmp[5]);
      const uint16_t sequence = static_cast<uint16_t>((icmp[6] << 8) | icmp[7]);
      for (const Reply &reply : script_)
        send(reply, identifier, sequence,
             std::vector<uint8_t>(icmp + 8, static_cast<const uint8_t *>(packet.data() + length)),
             packet.data() + 12);
      return;
    }
  }

  static void send(const Reply &reply, uint16_t identifier, uint16_t sequence,
                   const std::vector<uint8_t> &data, const uint8_t *requestSource) {
    const int sender = ::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = ipv4(reply.from);
    if (::bind(sender, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0) {
      ::close(sender);
      return;
    }
    std::vector<uint8_t> echo(8);
    const uint16_t id = static_cast<uint16_t>(identifier + reply.identifierShift);
    const uint16_t seq = static_cast<uint16_t>(sequence + reply.sequenceShift);
    echo[4] = static_cast<uint8_t>(id >> 8);
    echo[5] = static_cast<uint8_t>(id);
    echo[6] = static_cast<uint8_t>(seq >> 8);
    echo[7] = static_cast<uint8_t>(seq);
    echo.insert(echo.end(), data.begin(), data.end());
    const uint16_t checksum = velmora::platform::InternetChecksum(echo.data(), echo.size());
    echo[2] = static_cast<uint8_t>(checksum >> 8);
    echo[3] = static_cast<uint8_t>(checksum);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    std::memcpy(&target.sin_addr.s_addr, requestSource, 4);
    ::sendto(sender, echo.data(), echo.size(), 0, reinterpret_cast<sockaddr *>(&target), sizeof target);
    ::close(sender);
  }

  std::vector<Reply> script_;
  int listener_ = -1;
  std::thread thread_;
};

TEST(Icmp, PingsTheLoopbackHostWithoutALookup) {
  int lookups = 0;
  std::unique_ptr<TICMP> icmp;
  try {
    icmp = std::make_unique<TICMP>([&](const std::string &) {
      ++lookups;
      return TIcmpResolved{velmora::kIcmpHostNotFound, 0, {}};
    });
  } catch (const TICMPException &error) {
    FAIL() << "this machine permits no ICMP socket: " << error.Reason();
  }
  TPing ping(std::move(icmp));
  std::vector<std::string> events;
  ping.OnEchoRequest = [&](TPing &, TICMP &) { events.push_back("request"); };
  ping.OnEchoReply = [&](TPing &, TICMP &, int32_t replies) {
    events.push_back("reply " + std::to_string(replies));
  };
  ping.OnDisplay = [&](TPing &, TICMP &, const std::string &message) { events.push_back(message); };
  ping.SetAddress("127.0.0.1");
  ping.SetTimeout(1000);
  ping.SetTTL(255);

  ASSERT_EQ(ping.Ping(), 1) << "last error " << ping.Icmp().LastError();
  EXPECT_EQ(ping.Icmp().LastError(), 0);
  EXPECT_EQ(ping.Icmp().Reply().Address, ipv4("127.0.0.1"));
  EXPECT_EQ(ping.Icmp().Reply().Status, 0u);
  EXPECT_EQ(ping.Icmp().Reply().DataSize, 56);
  EXPECT_LT(ping.Icmp().Reply().RTT, 1000u);
  EXPECT_EQ(ping.Icmp().HostName(), "127.0.0.1");
  EXPECT_EQ(ping.Icmp().HostIP(), "127.0.0.1");
  EXPECT_EQ(lookups, 0);
  EXPECT_EQ(events, (std::vector<std::string>{"request", "reply 1"}));
  EXPECT_EQ(ping.Ping(), 1) << "a second echo gets a new sequence number and its own reply";
}

TEST(Icmp, EchoDataIsTheIdentificationTextPaddedWithBlanks) {
  TICMP icmp;
  const std::string text(velmora::kPingIdentification);
  const struct {
    int32_t size;
    std::string expected;
  } cases[] = {
      {56, text + std::string(11, ' ')}, {45, text}, {20, text.substr(0, 20)}, {0, ""}, {-3, ""},
  };
  for (const auto &c : cases) {
    icmp.Size = c.size;
    EXPECT_EQ(icmp.EchoData(), c.expected) << "Size " << c.size;
  }
}

TEST(Icmp, LookupsHappenOnceForEachNewAddressText) {
  std::vector<std::string> lookups;
  TICMP icmp([&](const std::string &name) {
    lookups.push_back(name);
    if (name == "gone.test")
      return TIcmpResolved{velmora::kIcmpHostNotFound, 0, {}};
    return TIcmpResolved{0, ipv4("127.0.0.1"), "canonical." + name};
  });
  icmp.Timeout = 1000;
  std::vector<std::string> display;
  int replies = 0;
  icmp.OnDisplay = [&](const std::string &message) { display.push_back(message); };
  icmp.OnEchoReply = [&](int32_t) { ++replies; };

  icmp.SetAddress("gone.test");
  EXPECT_EQ(icmp.Ping(), 0);
  EXPECT_EQ(display, (std::vector<std::string>{"Unable to resolve gone.test", "Invalid host address"}));
  EXPECT_EQ(icmp.LastError(), velmora::kIcmpBadDestination);
  EXPECT_EQ(replies, 0) << "no echo was sent, so no reply event";
  EXPECT_EQ(icmp.Ping(), 0);
  EXPECT_EQ(lookups.size(), 2u) << "a failed lookup is tried again";

  lookups.clear();
  icmp.SetAddress("mirror.test");
  ASSERT_EQ(icmp.Ping(), 1);
  EXPECT_EQ(icmp.HostName(), "canonical.mirror.test");
  EXPECT_EQ(icmp.HostIP(), "127.0.0.1");
  icmp.SetAddress("mirror.test");
  EXPECT_EQ(icmp.Ping(), 1);
  EXPECT_EQ(lookups, (std::vector<std::string>{"mirror.test"})) << "the same text keeps its resolution";
  icmp.SetAddress("other.test");
  EXPECT_EQ(icmp.Ping(), 1);
  EXPECT_EQ(lookups, (std::vector<std::string>{"mirror.test", "other.test"}));
  EXPECT_EQ(replies, 3);
}

TEST(Icmp, TheAllOnesAddressIsNoHost) {
  TICMP icmp;
  icmp.SetAddress("255.255.255.255");
  EXPECT_EQ(icmp.Ping(), 0);
  EXPECT_EQ(icmp.LastError(), velmora::kIcmpBadDestination);
}

TEST(Icmp, EachSocketKindPingsAndTimesOutInsideItsOwnNamespace) {
  SilentNamespace silent;
  ASSERT_EQ(silent.missing(), "");
  NetworkNamespace answering;
  ASSERT_TRUE(answering.created()) << answering.error();
  ASSERT_TRUE(answering.setSysctl("net/ipv4/ping_group_range", "0 2147483647"));

  for (IcmpSocketKind kind : kBothKinds) {
    SCOPED_TRACE(kindName(kind));
    {
      EnteredNamespace inside(answering);
      ASSERT_TRUE(inside.entered()) << inside.error();
      TICMP icmp(velmora::ResolveIPv4, {kind});
      EXPECT_EQ(icmp.SocketKind(), kind);
      icmp.SetAddress("127.0.0.1");
      icmp.Timeout = 1000;
      EXPECT_EQ(icmp.Ping(), 1) << "last error " << icmp.LastError();
    }
    {
      EnteredNamespace inside(silent.space);
      ASSERT_TRUE(inside.entered()) << inside.error();
      TICMP icmp(velmora::ResolveIPv4, {kind});
      icmp.SetAddress("127.0.0.1");
      icmp.Timeout = 1000;
      const auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(icmp.Ping(), 0);
      const int64_t waited = millisecondsSince(start);
      EXPECT_EQ(icmp.LastError(), velmora::kIcmpRequestTimedOut);
      EXPECT_GE(waited, 990);
      EXPECT_LT(waited, 1500) << "the echo gives up at its time-out";

      icmp.SetAddress("10.255.0.1"); // no route inside the namespace: fails at once
      const auto unroutable = std::chrono::steady_clock::now();
      EXPECT_EQ(icmp.Ping(), 0);
      EXPECT_EQ(icmp.LastError(), ENETUNREACH);
      EXPECT_LT(millisecondsSince(unroutable), 500);
    }
  }
}

TEST(Icmp, OnlyTheTargetsReplyToThisRequestCounts) {
  SilentNamespace silent;
  ASSERT_EQ(silent.missing(), "");
  const std::vector<ScriptedResponder::Reply> forgeries = {
      {"127.0.0.9", 0, 0}, // another host
      {"127.0.0.1", 0, 1}, // another sequence number
      {"127.0.0.1", 1, 0}, // another identifier
  };
  for (IcmpSocketKind kind : kBothKinds)
    for (bool answered : {false, true}) {
      SCOPED_TRACE(std::string(kindName(kind)) + (answered ? ", then the true reply" : ", forgeries only"));
      EnteredNamespace inside(silent.space);
      ASSERT_TRUE(inside.entered()) << inside.error();
      std::vector<ScriptedResponder::Reply> script = forgeries;
      if (answered)
        script.push_back({"127.0.0.1", 0, 0});
      ScriptedResponder responder(script);
      ASSERT_TRUE(responder.ready()) << "the scripted responder needs a raw socket (CAP_NET_RAW)";
      TICMP icmp(velmora::ResolveIPv4, {kind});
      icmp.SetAddress("127.0.0.1");
      icmp.Timeout = 1000;
      EXPECT_EQ(icmp.Ping(), answered ? 1 : 0);
      if (answered)
        EXPECT_EQ(icmp.Reply().Address, ipv4("127.0.0.1"));
      else
        EXPECT_EQ(icmp.LastError(), velmora::kIcmpRequestTimedOut);
      responder.finish();
      EXPECT_EQ(responder.requestData, icmp.EchoData());
    }
}

TEST(Icmp, ASystemThatPermitsNoSocketKindIsAClearError) {
  SilentNamespace silent;
  ASSERT_EQ(silent.missing(), "");
  ASSERT_TRUE(silent.space.setSysctl("net/ipv4/ping_group_range", "1 0"));
  EnteredNamespace inside(silent.space);
  ASSERT_TRUE(inside.entered()) << inside.error();
  try {
    TICMP icmp(velmora::ResolveIPv4, {IcmpSocketKind::Datagram});
    FAIL() << "the datagram kind opened although no group may use it";
  } catch (const TICMPException &error) {
    EXPECT_STREQ(error.what(), "Unable to get ping handle");
    EXPECT_NE(error.Reason().find("ping_group_range"), std::string::npos) << error.Reason();
  }
  EXPECT_THROW(TICMP(velmora::ResolveIPv4, {}), TICMPException);
}

} // namespace
