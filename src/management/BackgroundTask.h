#pragma once

#include "platform/EventLoop.h"

#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace velmora {

// Runs blocking work (an external command, a wait for the system) on a thread of its own and hands
// its result to the loop thread through post, so the loop never waits. Destroying the task cuts the
// channel: a result that arrives later is dropped and its callback never runs.
class TBackgroundTask {
public:
  explicit TBackgroundTask(platform::EventLoop &loop) : channel_(std::make_shared<Channel>(loop)) {}
  ~TBackgroundTask() { Cut(); }
  TBackgroundTask(const TBackgroundTask &) = delete;
  TBackgroundTask &operator=(const TBackgroundTask &) = delete;

  // work runs on a detached thread and must hold what it uses (shared, not borrowed); done runs on
  // the loop thread with its result unless the task was cancelled first. Throws std::system_error
  // when no thread can be started.
  template <class Result> void Run(std::function<Result()> work, std::function<void(Result)> done) {
    std::thread([channel = channel_, work = std::move(work), done = std::move(done)]() mutable {
      Result result = work();
      const std::lock_guard<std::mutex> lock(channel->mutex);
      if (channel->loop == nullptr)
        return;
      channel->loop->post([channel, done = std::move(done), result = std::move(result)]() mutable {
        if (channel->Open())
          done(std::move(result));
      });
    }).detach();
  }

  // From here on no result of earlier work reaches its callback; later work runs as usual.
  void Cancel() {
    platform::EventLoop *loop = Cut();
    if (loop != nullptr)
      channel_ = std::make_shared<Channel>(*loop);
  }

private:
  platform::EventLoop *Cut() {
    const std::lock_guard<std::mutex> lock(channel_->mutex);
    return std::exchange(channel_->loop, nullptr);
  }

  struct Channel {
    explicit Channel(platform::EventLoop &eventLoop) : loop(&eventLoop) {}
    bool Open() {
      const std::lock_guard<std::mutex> lock(mutex);
      return loop != nullptr;
    }
    std::mutex mutex;
    platform::EventLoop *loop;
  };

  std::shared_ptr<Channel> channel_;
};

} // namespace velmora
