#include "management/ModemConnection.h"
#include "management/Shutdown.h"
#include "platform/Tick.h"
#include "support/ExpectReports.h"
#include "support/LoopRunner.h"

#include <gtest/gtest.h>

#include <mutex>
#include <set>

namespace velmora::testing {
namespace {

// Links that go down a while after their hang-up, or never; called from the worker thread.
class FakeLinks : public platform::IPointToPointLinks {
public:
  std::vector<std::string> EntryNames(std::string &) override { return {"Mobile", "DSL"}; }
  std::vector<platform::PointToPointLink> ActiveLinks(std::string &) override {
    const std::lock_guard<std::mutex> lock(mutex);
    return active;
  }
  std::string HangUp(const platform::PointToPointLink &link) override {
    const std::lock_guard<std::mutex> lock(mutex);
    hungUp.push_back(link.name);
    if (refuse.contains(link.name))
      return "not permitted";
    if (!stuck.contains(link.name))
      downAt[link.name] = platform::MonotonicMilliseconds() + 50;
    return {};
  }
  bool IsUp(const platform::PointToPointLink &link) override {
    const std::lock_guard<std::mutex> lock(mutex);
    const auto down = downAt.find(link.name);
    return down == downAt.end() || platform::MonotonicMilliseconds() < down->second;
  }

  std::mutex mutex;
  std::vector<platform::PointToPointLink> active;
  std::set<std::string> refuse, stuck;
  std::map<std::string, uint64_t> downAt;
  std::vector<std::string> hungUp;
};

class ModemConnectionTest : public ::testing::Test {
protected:
  ~ModemConnectionTest() override {
    for (int i = 0; i < 10 && loop.registeredCount() > 0; ++i)
      loop.runOnce(0);
    EXPECT_EQ(loop.registeredCount(), 0u);
  }
  platform::EventLoop loop;
  std::shared_ptr<FakeLinks> links = std::make_shared<FakeLinks>();
};

TEST_F(ModemConnectionTest, TheEntriesArriveThroughTheLoop) {
  TModemConnection modem(loop, links);
  EXPECT_TRUE(modem.EntryNames.empty());
  ASSERT_TRUE(RunUntil(loop, [&] { return !modem.EntryNames.empty(); }));
  EXPECT_EQ(modem.EntryNames, (std::vector<std::string>{"Mobile", "DSL"}));
}

TEST_F(ModemConnectionTest, OneDisconnectEndsEveryActiveLinkAndWaitsForEach) {
  const velmora::testing::ExpectReports expected; // refused and stuck hang-ups are reported
  links->active = {
      {"Mobile", "u1", "ppp0"}, {"ppp1", "", "ppp1"}, {"Refused", "u3", "ppp2"}, {"Stuck", "u4", ""}};
  links->refuse = {"Refused"};
  links->stuck = {"Stuck"};
  TModemConnection modem(loop, links, 300, 10);
  std::optional<TModemConnection::TDisconnectReport> report;
  const uint64_t started = platform::MonotonicMilliseconds();
  modem.DisconnectAll([&](const TModemConnection::TDisconnectReport &r) { report = r; });
  EXPECT_TRUE(modem.HangUpRequested);
  EXPECT_FALSE(report) << "never inside the call";
  // The loop keeps turning while the worker waits.
  int ticks = 0;
  platform::LoopTimer timer(loop);
  timer.start(20, true, [&] { ++ticks; });
  ASSERT_TRUE(RunUntil(loop, [&] { return report.has_value(); }));
  EXPECT_GT(ticks, 5);
  EXPECT_GE(platform::MonotonicMilliseconds() - started, 300u) << "the stuck link was waited for";
  EXPECT_EQ(links->hungUp, (std::vector<std::string>{"Mobile", "ppp1", "Refused", "Stuck"}));
  EXPECT_EQ(report->Ended, (std::vector<std::string>{"Mobile", "ppp1"}));
  ASSERT_EQ(report->Failures.size(), 2u);
  EXPECT_EQ(report->Failures[0], "Refused: not permitted");
  EXPECT_TRUE(report->Failures[1].starts_with("Stuck: still up")) << report->Failures[1];
}

TEST_F(ModemConnectionTest, ALinkGoneWithAnEarlierOneIsNotHungUpAgain) {
  links->active = {{"Mobile", "u1", "ppp0"}, {"ppp0", "", "ppp0"}};
  links->downAt["ppp0"] = 0; // goes with its connection
  TModemConnection modem(loop, links, 300, 10);
  bool done = false;
  modem.Disconnect([&] { done = true; });
  ASSERT_TRUE(RunUntil(loop, [&] { return done; }));
  EXPECT_EQ(links->hungUp, (std::vector<std::string>{"Mobile"}));
}

TEST_F(ModemConnectionTest, AResultArrivingAfterTheHelperIsGoneIsDropped) {
  links->active = {{"Mobile", "u1", "ppp0"}};
  bool called = false;
  {
    TModemConnection modem(loop, links, 300, 10);
    modem.Disconnect([&] { called = true; });
  }
  ASSERT_TRUE(RunUntil(loop, [&] {
    const std::lock_guard<std::mutex> lock(links->mutex);
    return !links->hungUp.empty();
  }));
  RunUntil(
      loop, [] { return false; }, 200);
  EXPECT_FALSE(called);
}

class FakePower : public platform::ISystemPower {
public:
  explicit FakePower(std::string answer) : answer_(std::move(answer)) {}
  std::string PowerOff() override {
    ++calls;
    return answer_;
  }
  std::atomic<int> calls{0};

private:
  std::string answer_;
};

TEST_F(ModemConnectionTest, PowerOffAnswersThroughTheLoop) {
  const velmora::testing::ExpectReports expected; // a refused power-off is reported
  for (const std::string &answer : {std::string(), std::string("Access denied")}) {
    auto power = std::make_shared<FakePower>(answer);
    TWinReboot reboot(loop, power);
    std::optional<bool> accepted;
    reboot.WinExit([&](bool result) { accepted = result; });
    EXPECT_FALSE(accepted);
    ASSERT_TRUE(RunUntil(loop, [&] { return accepted.has_value(); }));
    EXPECT_EQ(*accepted, answer.empty());
    EXPECT_EQ(power->calls, 1);
  }
}

} // namespace
} // namespace velmora::testing
