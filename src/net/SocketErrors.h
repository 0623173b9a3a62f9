#pragma once

#include <cstdint>
#include <string>

namespace velmora {

// Socket error numbers as the clients and their messages know them. The system's errno values
// and resolver failures are mapped onto these so that every layer sees the same numbers.
namespace socketerr {
inline constexpr int32_t Interrupted = 10004;
inline constexpr int32_t InvalidArgument = 10022;
inline constexpr int32_t WouldBlock = 10035;
inline constexpr int32_t NotSocket = 10038;
inline constexpr int32_t ConnectionAborted = 10053;
inline constexpr int32_t ConnectionReset = 10054;
inline constexpr int32_t NotConnected = 10057;
inline constexpr int32_t ConnectionRefused = 10061;
inline constexpr int32_t HostNotFound = 11001;
inline constexpr int32_t TryAgain = 11002;
inline constexpr int32_t NoRecovery = 11003;
inline constexpr int32_t NoData = 11004;
} // namespace socketerr

// The fixed description of a socket error number; "Not a WinSock error" for any other number.
std::string WSocketErrorDesc(int32_t error);

// The socket error number for a system errno value (0 stays 0; an unknown value is kept).
int32_t SocketErrorFromErrno(int errnoValue);

// The socket error number for a getaddrinfo result (EAI_SYSTEM reads errno).
int32_t SocketErrorFromResolver(int gaiResult, int errnoValue);

} // namespace velmora
