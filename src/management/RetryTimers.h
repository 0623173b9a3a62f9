#pragma once

#include "platform/EventLoop.h"
#include "store/LocalDownloadInfo.h"

#include <functional>
#include <map>
#include <memory>

namespace velmora {

// The retry countdowns of failed downloads: one timer per record, ticking once a second. It owns
// the timers; the record's RetryTimer only says whether one runs for it.
class TRetryTimers {
public:
  using TTick = std::function<void(TLocalDownloadinfo &record)>;

  explicit TRetryTimers(platform::EventLoop &loop) : loop_(loop) {}

  // Starts the record's countdown of seconds, unless one runs already; false then.
  bool Start(TLocalDownloadinfo &record, int32_t seconds, TTick onTick);
  // Ends the record's countdown; safe inside its own tick.
  void Free(TLocalDownloadinfo &record);
  void Clear();

private:
  platform::EventLoop &loop_;
  std::map<TLocalDownloadinfo *, std::unique_ptr<platform::LoopTimer>> timers_;
};

} // namespace velmora
