#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace velmora {

// Error numbers of the HTTP client's own failures, as OnRequestDone reports them; failed lookups
// and connects report the socket error number instead.
namespace httperr {
inline constexpr uint16_t Busy = 1;
inline constexpr uint16_t Aborted = 3;
inline constexpr uint16_t LineTooLong = 4;
inline constexpr uint16_t HeaderTooLarge = 5;
inline constexpr uint16_t MalformedResponse = 6;
inline constexpr uint16_t TooManyRedirects = 7;
inline constexpr uint16_t BadRedirect = 8;
inline constexpr uint16_t InvalidRequest = 9;
inline constexpr uint16_t ConnectionLost = 10;
inline constexpr uint16_t HandlerFailed = 11;
} // namespace httperr

// Whether the client refused what the server sent (or where it led): the reason phrase says why.
inline bool IsHttpRefusal(uint16_t error) {
  return error == httperr::LineTooLong || error == httperr::HeaderTooLarge ||
         error == httperr::MalformedResponse || error == httperr::TooManyRedirects ||
         error == httperr::BadRedirect || error == httperr::InvalidRequest;
}

// A refusal of the HTTP client, such as a request started while another one runs.
class EHttpException : public std::runtime_error {
public:
  EHttpException(const std::string &message, int errorNumber)
      : std::runtime_error(message), ErrorNumber(errorNumber) {}
  int ErrorNumber;
};

} // namespace velmora
