#include "unzip/DosTime.h"

#include <ctime>

namespace velmora {

int64_t DosDateTimeToUnix(uint32_t dosDateTime) {
  uint32_t time = dosDateTime & 0xFFFF;
  uint32_t date = dosDateTime >> 16;
  struct tm fields {};
  fields.tm_year = static_cast<int>((date >> 9) + 80);
  fields.tm_mon = static_cast<int>((date >> 5) & 0x0F) - 1;
  fields.tm_mday = static_cast<int>(date & 0x1F);
  fields.tm_hour = static_cast<int>(time >> 11);
  fields.tm_min = static_cast<int>((time >> 5) & 0x3F);
  fields.tm_sec = static_cast<int>((time & 0x1F) * 2);
  fields.tm_isdst = -1;
  if (fields.tm_mon < 0 || fields.tm_mon > 11 || fields.tm_mday == 0 || fields.tm_hour > 23 ||
      fields.tm_min > 59 || fields.tm_sec > 59)
    return -1;
  time_t seconds = ::mktime(&fields);
  return seconds == static_cast<time_t>(-1) ? -1 : static_cast<int64_t>(seconds);
}

} // namespace velmora
