#pragma once

#include <cstdint>

namespace velmora {

// Error numbers of the encrypted transport, as its events report them; above the socket error
// numbers, so every layer can tell them apart.
namespace tlserr {
inline constexpr uint16_t CertificateNotTrusted = 12001; // the chain or the name failed verification
inline constexpr uint16_t HandshakeFailed = 12002;       // no TLS spoken, or no common ground
inline constexpr uint16_t ProtocolError = 12003;         // a broken record after the handshake
inline constexpr uint16_t Truncated = 12004;             // the connection ended without close_notify
inline constexpr uint16_t Setup = 12005;                 // the library or a trust file could not be used

inline bool IsTlsError(uint32_t error) { return error >= CertificateNotTrusted && error <= Setup; }
} // namespace tlserr

} // namespace velmora
