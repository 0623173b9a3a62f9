#pragma once

#include <cstdint>

namespace velmora::platform {

// Starts the kernel writing a file's new data to disk a step at a time while the file is being
// written, so that a flush at the end finds little left to write. Only a hint: any failure shows at
// that flush.
class WriteBehind {
public:
  void SetOn(bool on) { on_ = on; }
  // Bytes up to end have been written to fd (a write before the last point starts over).
  void Written(int fd, int64_t end);

private:
  bool on_ = false;
  int64_t writtenBackTo_ = 0;
};

} // namespace velmora::platform
