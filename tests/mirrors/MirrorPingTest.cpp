#include "mirrors/MirrorPing.h"
#include "platform/EventLoop.h"
#include "support/ExpectReports.h"
#include "support/LoopRunner.h"
#include "support/NetworkNamespace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>

using velmora::MirrorPingTime;
using velmora::TEchoProbe;
using velmora::TFileMirror;
using velmora::TMirrorList;
using velmora::TPingOutcome;
using velmora::TPingSystem;
using velmora::platform::EventLoop;
using velmora::testing::RunUntil;

namespace {

// A probe whose echoes wait until the test releases their host, recording how many run at once.
// Shared by pointer, so workers that outlive a test still find it.
class GatedProbe {
public:
  TPingOutcome ping(const std::string &host) {
    std::unique_lock<std::mutex> lock(mutex_);
    started_.push_back(host);
    maxActive_ = std::max(maxActive_, ++active_);
    released_.wait_for(lock, std::chrono::seconds(10), [&] { return releasedHosts_.count(host) != 0; });
    --active_;
    ++finished_;
    if (host == "throws")
      throw std::runtime_error("the echo failed");
    return outcomes_.count(host) != 0 ? outcomes_[host] : TPingOutcome{true, 42};
  }
  void release(const std::string &host, TPingOutcome outcome = {true, 42}) {
    const std::lock_guard<std::mutex> lock(mutex_);
    releasedHosts_.insert(host);
    outcomes_[host] = outcome;
    released_.notify_all();
  }
  std::vector<std::string> started() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return started_;
  }
  int finished() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return finished_;
  }
  int maxActive() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return maxActive_;
  }

private:
  std::mutex mutex_;
  std::condition_variable released_;
  std::vector<std::string> started_;
  std::set<std::string> releasedHosts_;
  std::map<std::string, TPingOutcome> outcomes_;
  int active_ = 0, maxActive_ = 0, finished_ = 0;
};

TEchoProbe probeOf(const std::shared_ptr<GatedProbe> &gated) {
  return [gated](const std::string &host) { return gated->ping(host); };
}

TMirrorList mirrorsOnHosts(const std::vector<std::string> &hosts) {
  TMirrorList list;
  for (const std::string &host : hosts)
    list.Add(std::make_unique<TFileMirror>("http://" + host + "/pub/file.zip"));
  return list;
}

std::vector<std::string> numberedHosts(int count) {
  std::vector<std::string> hosts;
  hosts.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i)
    hosts.push_back("m" + std::to_string(i));
  return hosts;
}

class MirrorPingTest : public ::testing::Test {
protected:
  void TearDown() override { EXPECT_EQ(loop.registeredCount(), 0u); }

  std::unique_ptr<TPingSystem> pingSystem(int32_t maxSimPings, TEchoProbe probe) {
    return std::make_unique<TPingSystem>(
        loop, maxSimPings, [this](TFileMirror &mirror) { reported.push_back(mirror.Url.Host); },
        std::move(probe));
  }

  EventLoop loop;
  std::vector<std::string> reported;
};

TEST(MirrorPingTime, FollowsTheReplyAndTheTimeOut) {
  const struct {
    TPingOutcome outcome;
    int32_t expected;
  } cases[] = {
      {{false, 0}, 9999}, {{false, 300}, 9999}, {{true, 0}, 5},       {{true, 1}, 1},
      {{true, 37}, 37},   {{true, 1000}, 1000}, {{true, 1001}, 9999}, {{true, 4000000000u}, 9999},
  };
  for (const auto &c : cases)
    EXPECT_EQ(MirrorPingTime(c.outcome), c.expected)
        << "replied " << c.outcome.Replied << ", round trip " << c.outcome.RoundTripTime;
}

TEST_F(MirrorPingTest, EightAtATimeAndEachReportStartsTheNextInOrderOfAddition) {
  auto gated = std::make_shared<GatedProbe>();
  auto pings = pingSystem(8, probeOf(gated));
  TMirrorList mirrors = mirrorsOnHosts(numberedHosts(20));
  pings->AddMirrors(mirrors);

  ASSERT_TRUE(RunUntil(loop, [&] { return gated->started().size() == 8; }));
  loop.runOnce(20);
  std::vector<std::string> first = gated->started();
  std::sort(first.begin(), first.end());
  EXPECT_EQ(first, (std::vector<std::string>{"m0", "m1", "m2", "m3", "m4", "m5", "m6", "m7"}));
  EXPECT_EQ(pings->RunningCount(), 8u);
  EXPECT_EQ(pings->WaitingCount(), 20u);

  // Answers in any order: each one lets exactly the next waiting mirror start.
  std::vector<std::string> answerOrder = {"m5", "m0", "m7", "m1", "m2", "m3", "m4", "m6"};
  for (int i = 8; i < 20; ++i)
    answerOrder.push_back("m" + std::to_string(i));
  for (std::size_t k = 0; k < answerOrder.size(); ++k) {
    gated->release(answerOrder[k], {true, k == 0 ? 0u : 120u});
    ASSERT_TRUE(RunUntil(loop, [&] { return reported.size() == k + 1; }));
    EXPECT_EQ(reported.back(), answerOrder[k]);
    const std::size_t expectedStarted = std::min<std::size_t>(20, 9 + k);
    ASSERT_TRUE(RunUntil(loop, [&] { return gated->started().size() == expectedStarted; }));
    if (expectedStarted == 9 + k) {
      EXPECT_EQ(gated->started().back(), "m" + std::to_string(8 + k));
    }
    EXPECT_LE(pings->RunningCount(), 8u);
  }
  EXPECT_EQ(mirrors.Get(5)->PingTime, 5) << "a sub-millisecond answer counts as 5";
  EXPECT_LE(gated->maxActive(), 8);
  EXPECT_EQ(pings->RunningCount(), 0u);
  EXPECT_EQ(pings->WaitingCount(), 0u);
  EXPECT_EQ(mirrors.Get(19)->PingTime, 120);
}

TEST_F(MirrorPingTest, FailedEchoesReportOnceWith9999) {
  const velmora::testing::ExpectReports expected; // each failed echo is reported
  auto gated = std::make_shared<GatedProbe>();
  auto pings = pingSystem(2, probeOf(gated));
  TMirrorList mirrors = mirrorsOnHosts({"silent", "throws", "slow", "after"});
  pings->AddMirrors(mirrors);
  pings->AddMirror(*mirrors.Get(0)); // already waiting: not pinged twice
  gated->release("silent", {false, 0});
  gated->release("throws");
  gated->release("slow", {true, 1500});
  gated->release("after", {true, 80});
  ASSERT_TRUE(RunUntil(loop, [&] { return reported.size() == 4; }));
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(mirrors.Get(i)->PingTime, 9999) << mirrors.Get(i)->Url.Host;
  EXPECT_EQ(mirrors.Get(3)->PingTime, 80);
  EXPECT_EQ(gated->started().size(), 4u);
}

TEST_F(MirrorPingTest, ReportsAfterThePingSystemIsGoneAreDropped) {
  auto gated = std::make_shared<GatedProbe>();
  auto pings = pingSystem(8, probeOf(gated));
  TMirrorList mirrors = mirrorsOnHosts({"a", "b", "c"});
  pings->AddMirrors(mirrors);
  ASSERT_TRUE(RunUntil(loop, [&] { return gated->started().size() == 3; }));

  gated->release("a");
  ASSERT_TRUE(RunUntil(loop, [&] { return reported.size() == 1; }));
  pings.reset();
  mirrors.DeleteAndFreeAllMirrors(); // the download's mirrors go with it
  gated->release("b");
  gated->release("c");
  ASSERT_TRUE(RunUntil(loop, [&] { return gated->finished() == 3; }));
  loop.runOnce(50);
  EXPECT_EQ(reported, (std::vector<std::string>{"a"}));
}

TEST_F(MirrorPingTest, TheOwnerMayEndThePingSystemInsideItsCallback) {
  auto gated = std::make_shared<GatedProbe>();
  std::unique_ptr<TPingSystem> pings;
  int calls = 0;
  pings = std::make_unique<TPingSystem>(
      loop, 1,
      [&](TFileMirror &) {
        ++calls;
        pings.reset();
      },
      probeOf(gated));
  TMirrorList mirrors = mirrorsOnHosts({"first", "second"});
  pings->AddMirrors(mirrors);
  gated->release("first");
  gated->release("second");
  ASSERT_TRUE(RunUntil(loop, [&] { return calls == 1 && gated->finished() == 1; }));
  loop.runOnce(50);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(gated->started(), (std::vector<std::string>{"first"}));
}

TEST_F(MirrorPingTest, RealEchoesMeasureLoopbackHostsAndGive9999ForTheRest) {
  velmora::TPingSystemFactory factory(loop);
  std::vector<std::string> pinged;
  auto pings = factory.CreatePingSystem(8, [&](TFileMirror &mirror) { pinged.push_back(mirror.Url.Host); });
  TMirrorList mirrors;
  for (const char *url : {"http://127.0.0.1/f", "http://127.0.0.2:8080/f", "ftp://127.0.0.3/f", "http:///f"})
    mirrors.Add(std::make_unique<TFileMirror>(url));
  pings->AddMirrors(mirrors);
  ASSERT_TRUE(RunUntil(
      loop, [&] { return pinged.size() == 4; }, 5000));
  for (int i = 0; i < 3; ++i) {
    const int32_t time = mirrors.Get(i)->PingTime;
    EXPECT_TRUE(time > 0 && time < 1000)
        << mirrors.Get(i)->Url.Host << " got " << time
        << (time == 9999 ? ": this system permits neither an unprivileged ICMP socket "
                           "(net.ipv4.ping_group_range) nor a raw one (CAP_NET_RAW)"
                         : "");
  }
  EXPECT_EQ(mirrors.Get(3)->PingTime, 9999) << "a host that does not resolve";
}

TEST_F(MirrorPingTest, AHostThatNeverAnswersGets9999WithinTheTimeOut) {
  velmora::testing::NetworkNamespace silent;
  ASSERT_TRUE(silent.created()) << silent.error();
  ASSERT_TRUE(silent.setSysctl("net/ipv4/icmp_echo_ignore_all", "1"));
  velmora::testing::EnteredNamespace inside(silent);
  ASSERT_TRUE(inside.entered()) << inside.error();

  auto pings = pingSystem(8, velmora::IcmpEchoProbe);
  TMirrorList mirrors = mirrorsOnHosts({"127.0.0.1", "127.0.0.2"});
  mirrors.Get(0)->PingTime = 50; // a stale value is overwritten
  const auto start = std::chrono::steady_clock::now();
  pings->AddMirrors(mirrors);
  ASSERT_TRUE(RunUntil(
      loop, [&] { return reported.size() == 2; }, 5000));
  const auto waited =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(mirrors.Get(0)->PingTime, 9999);
  EXPECT_EQ(mirrors.Get(1)->PingTime, 9999);
  EXPECT_LT(waited, 1500) << "both pings run at once and give up after a second";
}

} // namespace
