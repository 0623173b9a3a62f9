#pragma once

#include <cstdint>

namespace velmora {

// Seconds since 1970 of a DOS date and time (local time; date in the high word), or -1 when
// the fields do not form a date.
int64_t DosDateTimeToUnix(uint32_t dosDateTime);

} // namespace velmora
