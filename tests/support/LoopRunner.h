#pragma once

#include "platform/EventLoop.h"

#include <cstdint>
#include <functional>

namespace velmora::testing {

// Runs the loop until done() holds or the deadline passes; returns whether done() held.
// Tests poll with a deadline instead of sleeping.
bool RunUntil(platform::EventLoop &loop, const std::function<bool()> &done, uint32_t deadlineMs = 10000);

} // namespace velmora::testing
