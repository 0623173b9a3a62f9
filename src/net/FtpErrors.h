#pragma once

#include <cstdint>
#include <stdexcept>

namespace velmora {

// Error numbers of the FTP client's own failures, as OnRequestDone reports them. They lie below
// 100, apart from the server's reply codes (100 to 599, reported as they are) and the socket
// error numbers (10000 and above) of failed lookups and connections.
namespace ftperr {
inline constexpr uint16_t ConnectionLost = 1; // the control connection closed while a reply was due
inline constexpr uint16_t Timeout = 2;        // a step waited longer than Timeout for a sign of life
inline constexpr uint16_t LineTooLong = 3;    // a reply line beyond the bound
inline constexpr uint16_t ReplyTooLong = 4;   // a multi-line reply beyond the bound
inline constexpr uint16_t MalformedReply = 5; // a reply code that is not three digits from 100 to 599
inline constexpr uint16_t InvalidCommand = 6; // a command text holding CR, LF or NUL
inline constexpr uint16_t HandlerFailed = 7;  // an exception escaped while handling an event
} // namespace ftperr

// Whether an OnRequestDone error is the server's answer, as opposed to a failure of the connection.
inline bool IsFtpReplyCode(uint16_t error) { return error >= 100 && error <= 599; }

// A request refused at the call: not ready, not connected, a required name empty or unsafe.
class FtpException : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

} // namespace velmora
