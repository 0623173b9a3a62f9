#include "platform/EventLoop.h"

#include "platform/Tick.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace velmora::platform {

namespace {

constexpr EventLoop::Id kTimerTag = ~EventLoop::Id{0};
constexpr EventLoop::Id kWakeTag = kTimerTag - 1;
constexpr int kMaxEventsPerWait = 64;

[[noreturn]] void throwSystemError(const char *what) {
  throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

} // namespace

EventLoop::EventLoop() {
  epollFd_ = epoll_create1(EPOLL_CLOEXEC);
  timerFd_ = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (epollFd_ < 0 || timerFd_ < 0 || wakeFd_ < 0)
    throwSystemError("event loop");
  epoll_event event{};
  event.events = EPOLLIN;
  event.data.u64 = kTimerTag;
  if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, timerFd_, &event) != 0)
    throwSystemError("epoll_ctl timerfd");
  event.data.u64 = kWakeTag;
  if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, wakeFd_, &event) != 0)
    throwSystemError("epoll_ctl eventfd");
}

EventLoop::~EventLoop() {
  close(wakeFd_);
  close(timerFd_);
  close(epollFd_);
}

uint32_t EventLoop::toEpoll(uint32_t events) {
  uint32_t result = 0;
  if (events & ioRead)
    result |= EPOLLIN | EPOLLRDHUP;
  if (events & ioWrite)
    result |= EPOLLOUT;
  return result;
}

EventLoop::Id EventLoop::watch(int fd, uint32_t events, IoCallback callback) {
  const Id id = nextId_++;
  epoll_event event{};
  event.events = toEpoll(events);
  event.data.u64 = id;
  if (epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &event) != 0)
    throwSystemError("epoll_ctl add");
  watches_.emplace(id, Watch{fd, events, std::make_shared<IoCallback>(std::move(callback))});
  return id;
}

void EventLoop::setEvents(Id watchId, uint32_t events) {
  auto found = watches_.find(watchId);
  if (found == watches_.end() || found->second.events == events)
    return;
  epoll_event event{};
  event.events = toEpoll(events);
  event.data.u64 = watchId;
  if (epoll_ctl(epollFd_, EPOLL_CTL_MOD, found->second.fd, &event) != 0)
    throwSystemError("epoll_ctl mod");
  found->second.events = events;
}

void EventLoop::unwatch(Id watchId) {
  auto found = watches_.find(watchId);
  if (found == watches_.end())
    return;
  // Fails harmlessly when the caller closed the descriptor first: the kernel dropped it then.
  epoll_ctl(epollFd_, EPOLL_CTL_DEL, found->second.fd, nullptr);
  watches_.erase(found);
}

EventLoop::Id EventLoop::startTimer(uint32_t milliseconds, bool repeating, Callback callback) {
  const Id id = nextId_++;
  const uint64_t deadline = MonotonicMilliseconds() + milliseconds;
  timers_.emplace(id,
                  Timer{deadline, milliseconds, repeating, std::make_shared<Callback>(std::move(callback))});
  deadlines_.emplace(deadline, id);
  armTimerFd();
  return id;
}

void EventLoop::stopTimer(Id timer) {
  auto found = timers_.find(timer);
  if (found == timers_.end())
    return;
  auto range = deadlines_.equal_range(found->second.deadline);
  for (auto it = range.first; it != range.second; ++it) {
    if (it->second == timer) {
      deadlines_.erase(it);
      break;
    }
  }
  timers_.erase(found);
}

bool EventLoop::timerActive(Id timer) const { return timers_.count(timer) != 0; }

void EventLoop::post(Callback callback) {
  bool wasEmpty = false;
  {
    std::lock_guard lock(postedMutex_);
    wasEmpty = posted_.empty();
    posted_.push_back(std::move(callback));
  }
  if (wasEmpty)
    wake();
}

void EventLoop::wake() {
  const uint64_t one = 1;
  // A full counter already means "wake up"; nothing else can go wrong on an eventfd.
  [[maybe_unused]] ssize_t written = write(wakeFd_, &one, sizeof one);
}

void EventLoop::armTimerFd() {
  itimerspec due{};
  if (!deadlines_.empty()) {
    const uint64_t deadline = deadlines_.begin()->first;
    due.it_value.tv_sec = static_cast<time_t>(deadline / 1000);
    due.it_value.tv_nsec = static_cast<long>((deadline % 1000) * 1000000);
    if (due.it_value.tv_sec == 0 && due.it_value.tv_nsec == 0)
      due.it_value.tv_nsec = 1; // zero would disarm
  }
  timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &due, nullptr);
}

void EventLoop::run() {
  while (!stopRequested_)
    runOnce(-1);
  stopRequested_ = false;
}

void EventLoop::stop() {
  stopRequested_ = true;
  wake();
}

void EventLoop::runOnce(int timeoutMs) {
  {
    std::lock_guard lock(postedMutex_);
    if (!posted_.empty())
      timeoutMs = 0;
  }
  epoll_event events[kMaxEventsPerWait];
  int count = epoll_wait(epollFd_, events, kMaxEventsPerWait, timeoutMs);
  if (count < 0) {
    if (errno != EINTR)
      throwSystemError("epoll_wait");
    count = 0;
  }
  for (int i = 0; i < count; ++i) {
    const Id id = events[i].data.u64;
    if (id == kTimerTag || id == kWakeTag) {
      uint64_t value = 0;
      [[maybe_unused]] ssize_t got = read(id == kTimerTag ? timerFd_ : wakeFd_, &value, sizeof value);
      continue;
    }
    auto found = watches_.find(id);
    if (found == watches_.end())
      continue; // removed by an earlier callback of this batch
    const uint32_t raised = events[i].events;
    uint32_t report = 0;
    if (raised & (EPOLLIN | EPOLLRDHUP))
      report |= ioRead;
    if (raised & EPOLLOUT)
      report |= ioWrite;
    if (raised & (EPOLLERR | EPOLLHUP))
      report |= ioError;
    report &= found->second.events | ioError;
    if (report == 0)
      continue;
    auto callback = found->second.callback;
    (*callback)(report);
  }
  runTimers();
  runPosted();
  armTimerFd();
}

void EventLoop::runTimers() {
  const uint64_t now = MonotonicMilliseconds();
  std::vector<Id> due;
  for (auto it = deadlines_.begin(); it != deadlines_.end() && it->first <= now; ++it)
    due.push_back(it->second);
  for (Id id : due) {
    auto found = timers_.find(id);
    if (found == timers_.end())
      continue; // stopped by an earlier callback
    auto callback = found->second.callback;
    auto range = deadlines_.equal_range(found->second.deadline);
    for (auto it = range.first; it != range.second; ++it) {
      if (it->second == id) {
        deadlines_.erase(it);
        break;
      }
    }
    if (found->second.repeating) {
      const uint64_t next = found->second.deadline + std::max<uint32_t>(found->second.interval, 1);
      found->second.deadline = next > now ? next : now + std::max<uint32_t>(found->second.interval, 1);
      deadlines_.emplace(found->second.deadline, id);
    } else {
      timers_.erase(found);
    }
    (*callback)();
  }
}

void EventLoop::runPosted() {
  std::vector<Callback> batch;
  {
    std::lock_guard lock(postedMutex_);
    batch.swap(posted_);
  }
  for (auto &callback : batch)
    callback();
}

std::size_t EventLoop::registeredCount() const {
  std::lock_guard lock(postedMutex_);
  return watches_.size() + timers_.size() + posted_.size();
}

void LoopTimer::start(uint32_t milliseconds, bool repeating, EventLoop::Callback callback) {
  stop();
  id_ = loop_.startTimer(milliseconds, repeating, std::move(callback));
}

void LoopTimer::stop() {
  if (id_ != 0)
    loop_.stopTimer(id_);
  id_ = 0;
}

void LoopWatch::start(int fd, uint32_t events, EventLoop::IoCallback callback) {
  stop();
  id_ = loop_.watch(fd, events, std::move(callback));
  events_ = events;
}

void LoopWatch::setEvents(uint32_t events) {
  if (id_ != 0)
    loop_.setEvents(id_, events);
  events_ = events;
}

void LoopWatch::stop() {
  if (id_ != 0)
    loop_.unwatch(id_);
  id_ = 0;
  events_ = 0;
}

} // namespace velmora::platform
