#pragma once

#include <cstdint>

namespace velmora::platform {

// Milliseconds of the monotonic clock, wrapping modulo 2^32 like a tick counter.
uint32_t GetTickCount();

// Elapsed milliseconds from then to now, correct across the wrap.
inline uint32_t TicksBetween(uint32_t then, uint32_t now) { return now - then; }
inline uint32_t TicksSince(uint32_t then) { return TicksBetween(then, GetTickCount()); }

// Monotonic milliseconds without wrapping, for deadlines.
uint64_t MonotonicMilliseconds();

} // namespace velmora::platform
