#include "support/LoopRunner.h"

#include "platform/Tick.h"

namespace velmora::testing {

bool RunUntil(platform::EventLoop &loop, const std::function<bool()> &done, uint32_t deadlineMs) {
  const uint64_t deadline = platform::MonotonicMilliseconds() + deadlineMs;
  while (!done()) {
    const uint64_t now = platform::MonotonicMilliseconds();
    if (now >= deadline)
      return false;
    loop.runOnce(static_cast<int>(std::min<uint64_t>(deadline - now, 50)));
  }
  return true;
}

} // namespace velmora::testing
