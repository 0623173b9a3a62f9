#include "platform/WriteBehind.h"

#include <fcntl.h>

namespace velmora::platform {

namespace {

constexpr int64_t kStep = int64_t{8} * 1024 * 1024;

} // namespace

void WriteBehind::Written(int fd, int64_t end) {
  if (!on_)
    return;
  if (end < writtenBackTo_)
    writtenBackTo_ = 0;
  if (end - writtenBackTo_ < kStep)
    return;
  (void)::sync_file_range(fd, writtenBackTo_, end - writtenBackTo_, SYNC_FILE_RANGE_WRITE);
  writtenBackTo_ = end;
}

} // namespace velmora::platform
