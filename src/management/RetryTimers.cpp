#include "management/RetryTimers.h"

namespace velmora {

namespace {

constexpr uint32_t kRetryTick = 1000;

} // namespace

bool TRetryTimers::Start(TLocalDownloadinfo &record, int32_t seconds, TTick onTick) {
  if (record.RetryTimer != nullptr)
    return false;
  auto timer = std::make_unique<platform::LoopTimer>(loop_);
  timer->start(kRetryTick, true, [&record, onTick = std::move(onTick)] { onTick(record); });
  record.RetryTimer = timer.get();
  record.RetryCountdown = seconds;
  timers_[&record] = std::move(timer);
  return true;
}

void TRetryTimers::Free(TLocalDownloadinfo &record) {
  record.RetryTimer = nullptr;
  // The loop lets a timer be destroyed inside its own callback.
  timers_.erase(&record);
}

void TRetryTimers::Clear() {
  for (auto &[record, timer] : timers_)
    record->RetryTimer = nullptr;
  timers_.clear();
}

} // namespace velmora
