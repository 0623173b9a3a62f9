#include "platform/SystemError.h"

#include <cstring>

namespace velmora::platform {

std::string DescribeSystemError(const std::string &what, const std::string &path, int errorNumber) {
  char buffer[256];
  // The GNU strerror_r returns the text, which may or may not be the buffer.
  const char *reason = strerror_r(errorNumber, buffer, sizeof buffer);
  return what + " " + path + ": " + reason;
}

} // namespace velmora::platform
