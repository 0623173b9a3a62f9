#pragma once

#include <string>

namespace velmora::platform {

// "what path: reason" with the text of errno, for the error texts of file operations.
std::string DescribeSystemError(const std::string &what, const std::string &path, int errorNumber);

} // namespace velmora::platform
