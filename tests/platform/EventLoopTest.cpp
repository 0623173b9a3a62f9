#include "platform/EventLoop.h"
#include "platform/Tick.h"
#include "support/LoopRunner.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

using velmora::platform::EventLoop;
using velmora::platform::LoopTimer;
using velmora::platform::LoopWatch;
using velmora::testing::RunUntil;

namespace {

class EventLoopTest : public ::testing::Test {
protected:
  void TearDown() override { EXPECT_EQ(loop.registeredCount(), 0u); }
  EventLoop loop;
};

TEST_F(EventLoopTest, PostedCallbackNeverRunsInsidePost) {
  bool ran = false;
  loop.post([&] { ran = true; });
  EXPECT_FALSE(ran);
  loop.runOnce(0);
  EXPECT_TRUE(ran);
}

TEST_F(EventLoopTest, PostFromWorkerThreadsReachesTheLoop) {
  constexpr int kThreads = 4, kPosts = 500;
  int received = 0;
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t)
    workers.emplace_back([&] {
      for (int i = 0; i < kPosts; ++i)
        loop.post([&] { ++received; });
    });
  for (auto &worker : workers)
    worker.join();
  EXPECT_TRUE(RunUntil(loop, [&] { return received == kThreads * kPosts; }));
}

TEST_F(EventLoopTest, TimersFireInDeadlineOrderAndRepeatUntilStopped) {
  std::vector<int> order;
  LoopTimer late(loop), early(loop), repeating(loop);
  late.start(30, false, [&] { order.push_back(30); });
  early.start(5, false, [&] { order.push_back(5); });
  int repeats = 0;
  repeating.start(2, true, [&] {
    if (++repeats == 5)
      repeating.stop(); // stopping inside its own callback
  });
  EXPECT_TRUE(RunUntil(loop, [&] { return order.size() == 2 && repeats == 5; }));
  EXPECT_EQ(order, (std::vector<int>{5, 30}));
  EXPECT_FALSE(repeating.active());
}

TEST_F(EventLoopTest, TimerDestroyedInsideItsOwnCallbackIsSafe) {
  auto timer = std::make_unique<LoopTimer>(loop);
  bool fired = false;
  timer->start(0, true, [&] {
    fired = true;
    timer.reset();
  });
  EXPECT_TRUE(RunUntil(loop, [&] { return fired; }));
  EXPECT_EQ(timer, nullptr);
}

TEST_F(EventLoopTest, WatchReportsReadableAndWritableOnlyWhenAsked) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  LoopWatch reader(loop), writer(loop);
  int reads = 0, writes = 0;
  reader.start(fds[0], EventLoop::ioRead, [&](uint32_t events) {
    if (events & EventLoop::ioRead) {
      char buffer[16];
      ASSERT_GT(read(fds[0], buffer, sizeof buffer), 0);
      ++reads;
    }
  });
  writer.start(fds[1], 0, [&](uint32_t events) {
    if (events & EventLoop::ioWrite) {
      ++writes;
      writer.setEvents(0); // a writer arms its watch only while it has data queued
      ASSERT_EQ(write(fds[1], "x", 1), 1);
    }
  });
  loop.runOnce(10);
  EXPECT_EQ(writes, 0);
  writer.setEvents(EventLoop::ioWrite);
  EXPECT_TRUE(RunUntil(loop, [&] { return reads == 1; }));
  EXPECT_EQ(writes, 1);
  reader.stop();
  writer.stop();
  close(fds[0]);
  close(fds[1]);
}

TEST_F(EventLoopTest, StaleEventOfAReusedDescriptorIsNotDelivered) {
  int first[2];
  ASSERT_EQ(pipe(first), 0);
  ASSERT_EQ(write(first[1], "x", 1), 1);
  LoopWatch a(loop), b(loop);
  int aCalls = 0, bCalls = 0;
  // Both become ready in the same batch; whichever runs first removes the other, whose event
  // from that batch must then not be delivered.
  b.start(first[0], EventLoop::ioRead, [&](uint32_t) {
    ++bCalls;
    a.stop();
    b.stop();
  });
  a.start(first[1], EventLoop::ioWrite, [&](uint32_t) {
    ++aCalls;
    b.stop();
    a.stop();
  });
  EXPECT_TRUE(RunUntil(loop, [&] { return aCalls + bCalls > 0; }));
  loop.runOnce(0);
  EXPECT_EQ(aCalls + bCalls, 1);
  a.stop();
  b.stop();
  close(first[0]);
  close(first[1]);
}

TEST_F(EventLoopTest, ReleaseLaterDestroysOnTheNextIteration) {
  struct Probe {
    bool &destroyed;
    ~Probe() { destroyed = true; }
  };
  bool destroyed = false;
  loop.releaseLater(std::make_unique<Probe>(destroyed));
  EXPECT_FALSE(destroyed);
  loop.runOnce(0);
  EXPECT_TRUE(destroyed);
}

TEST_F(EventLoopTest, StopEndsRunFromACallback) {
  LoopTimer timer(loop);
  timer.start(1, false, [&] { loop.stop(); });
  loop.run();
  EXPECT_FALSE(loop.stopped());
}

TEST_F(EventLoopTest, PollDescriptorBecomesReadableWhenWorkIsPending) {
  loop.post([] {});
  pollfd probe{loop.pollDescriptor(), POLLIN, 0};
  EXPECT_EQ(poll(&probe, 1, 1000), 1);
  loop.runOnce(0);
}

TEST(TickTest, ElapsedTimeIsAWrappingDifference) {
  EXPECT_EQ(velmora::platform::TicksBetween(0xFFFFFFF0u, 0x10u), 0x20u);
  const uint32_t before = velmora::platform::GetTickCount();
  EXPECT_LT(velmora::platform::TicksSince(before), 1000u);
}

} // namespace
