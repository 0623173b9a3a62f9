#include "platform/Tick.h"

#include <ctime>

namespace velmora::platform {

uint64_t MonotonicMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

uint32_t GetTickCount() { return static_cast<uint32_t>(MonotonicMilliseconds()); }

} // namespace velmora::platform
