#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace velmora::platform {

// The one event loop of the process: descriptors, timers, posted work and deferred release.
// Every object of the engine and the GUI lives on the thread that runs it; other threads reach
// it only through post(). A callback never runs inside the call that registered it.
class EventLoop {
public:
  enum IoEvents : uint32_t { ioRead = 1, ioWrite = 2, ioError = 4 };
  using Callback = std::function<void()>;
  using IoCallback = std::function<void(uint32_t events)>;
  using Id = uint64_t;

  EventLoop();
  ~EventLoop();
  EventLoop(const EventLoop &) = delete;
  EventLoop &operator=(const EventLoop &) = delete;

  // Watches fd for the given ioRead/ioWrite events; errors and hang-ups always report as ioError.
  // The returned identity, not the descriptor, names the watch.
  Id watch(int fd, uint32_t events, IoCallback callback);
  void setEvents(Id watch, uint32_t events);
  void unwatch(Id watch);

  Id startTimer(uint32_t milliseconds, bool repeating, Callback callback);
  void stopTimer(Id timer);
  bool timerActive(Id timer) const;

  // Runs callback on the loop thread at the next iteration. Safe from any thread.
  void post(Callback callback);

  // Keeps object alive until the next iteration, so that it is never destroyed inside its own handler.
  template <class T> void releaseLater(std::unique_ptr<T> object) {
    if (object)
      post([holder = std::shared_ptr<T>(std::move(object))] {});
  }

  // Runs until stop(). Returns at once if stop() was called before.
  void run();
  // Waits at most timeoutMs (-1: for ever) for something to happen and handles it.
  void runOnce(int timeoutMs);
  void stop();
  bool stopped() const { return stopRequested_; }

  // Readable whenever the loop has work; lets another event loop embed this one.
  int pollDescriptor() const { return epollFd_; }

  // Watches, timers and posted callbacks still registered (tests expect 0 at the end).
  std::size_t registeredCount() const;

private:
  struct Watch {
    int fd;
    uint32_t events;
    std::shared_ptr<IoCallback> callback;
  };
  struct Timer {
    uint64_t deadline;
    uint32_t interval;
    bool repeating;
    std::shared_ptr<Callback> callback;
  };

  void wake();
  void armTimerFd();
  void runTimers();
  void runPosted();
  static uint32_t toEpoll(uint32_t events);

  int epollFd_ = -1;
  int timerFd_ = -1;
  int wakeFd_ = -1;
  bool stopRequested_ = false;
  Id nextId_ = 1;
  std::map<Id, Watch> watches_;
  std::map<Id, Timer> timers_;
  std::multimap<uint64_t, Id> deadlines_;
  mutable std::mutex postedMutex_;
  std::vector<Callback> posted_;
};

// RAII timer handle bound to a loop; stopping or destroying it inside its own callback is safe.
class LoopTimer {
public:
  explicit LoopTimer(EventLoop &loop) : loop_(loop) {}
  ~LoopTimer() { stop(); }
  LoopTimer(const LoopTimer &) = delete;
  LoopTimer &operator=(const LoopTimer &) = delete;

  void start(uint32_t milliseconds, bool repeating, EventLoop::Callback callback);
  void stop();
  bool active() const { return id_ != 0 && loop_.timerActive(id_); }
  EventLoop &loop() const { return loop_; }

private:
  EventLoop &loop_;
  EventLoop::Id id_ = 0;
};

// RAII descriptor watch; the descriptor itself stays owned by the caller.
class LoopWatch {
public:
  explicit LoopWatch(EventLoop &loop) : loop_(loop) {}
  ~LoopWatch() { stop(); }
  LoopWatch(const LoopWatch &) = delete;
  LoopWatch &operator=(const LoopWatch &) = delete;

  void start(int fd, uint32_t events, EventLoop::IoCallback callback);
  void setEvents(uint32_t events);
  void stop();
  bool active() const { return id_ != 0; }
  uint32_t events() const { return events_; }

private:
  EventLoop &loop_;
  EventLoop::Id id_ = 0;
  uint32_t events_ = 0;
};

} // namespace velmora::platform
