#include "ui/EventLoopBridge.h"

#include "ui/QtApp.h"

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <unistd.h>

namespace velmora {
namespace {

TEST(EventLoopBridge, TimersWatchesAndPostsRunUnderQt) {
  testing::QtApp();
  platform::EventLoop loop;
  {
    TEventLoopBridge bridge(loop);
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    bool timer = false, watch = false;
    std::atomic<bool> posted = false;
    platform::LoopTimer loopTimer(loop);
    loopTimer.start(20, false, [&] { timer = true; });
    platform::LoopWatch loopWatch(loop);
    loopWatch.start(pipeEnds[0], platform::EventLoop::ioRead, [&](uint32_t) {
      char byte;
      (void)read(pipeEnds[0], &byte, 1);
      watch = true;
    });
    std::thread worker([&] {
      (void)write(pipeEnds[1], "x", 1);
      loop.post([&] { posted = true; });
    });
    QTimer deadline;
    QObject::connect(&deadline, &QTimer::timeout, &testing::QtApp(), [&] {
      if ((timer && watch && posted) || deadline.property("ticks").toInt() > 500)
        QApplication::quit();
      deadline.setProperty("ticks", deadline.property("ticks").toInt() + 1);
    });
    deadline.start(10);
    QApplication::exec();
    worker.join();
    EXPECT_TRUE(timer);
    EXPECT_TRUE(watch);
    EXPECT_TRUE(posted);
    loopWatch.stop();
    close(pipeEnds[0]);
    close(pipeEnds[1]);
  }
  loop.runOnce(0);
  EXPECT_EQ(loop.registeredCount(), 0u);
}

TEST(EventLoopBridge, NestedQtLoopInsideALoopCallbackRunsNoLoopWork) {
  testing::QtApp();
  platform::EventLoop loop;
  {
    TEventLoopBridge bridge(loop);
    int otherRuns = 0;
    bool nestedDone = false;
    platform::LoopTimer other(loop);
    other.start(5, true, [&] { ++otherRuns; });
    platform::LoopTimer nesting(loop);
    nesting.start(10, false, [&] {
      const int before = otherRuns;
      QEventLoop nested;
      QTimer::singleShot(100, &nested, &QEventLoop::quit);
      nested.exec();
      EXPECT_EQ(otherRuns, before); // the loop's timers waited
      nestedDone = true;
    });
    QTimer::singleShot(400, &testing::QtApp(), &QApplication::quit);
    QApplication::exec();
    EXPECT_TRUE(nestedDone);
    EXPECT_GT(otherRuns, 5); // and ran again afterwards
  }
  loop.runOnce(0);
  EXPECT_EQ(loop.registeredCount(), 0u);
}

} // namespace
} // namespace velmora
