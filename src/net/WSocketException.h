#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace velmora {

// Every error of the socket layer: misuse, and system failures with their socket error number.
class ESocketException : public std::runtime_error {
public:
  ESocketException(const std::string &message, int32_t errorCode)
      : std::runtime_error(message), ErrorCode(errorCode) {}
  int32_t ErrorCode;
};

} // namespace velmora
