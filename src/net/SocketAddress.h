#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/socket.h>

namespace velmora {

// An IPv4 or IPv6 socket address.
struct TSocketAddress {
  sockaddr_storage Storage{};
  socklen_t Length = 0;

  int Family() const { return Storage.ss_family; }
  const sockaddr *Get() const { return reinterpret_cast<const sockaddr *>(&Storage); }
  sockaddr *Get() { return reinterpret_cast<sockaddr *>(&Storage); }
  std::string AddressText() const;
  uint16_t Port() const;
  void SetPort(uint16_t port);

  // A literal IPv4 or IPv6 address (IPv6 possibly in brackets); nothing for any other text.
  static std::optional<TSocketAddress> FromLiteral(std::string_view text, uint16_t port);
};

// Whether text is a dotted IPv4 address: optional blanks around it, exactly three dots, only
// digits between them, no part above 255.
bool IsDottedQuad(std::string_view text);

// The normalised dotted form of a dotted IPv4 address, or nothing.
std::optional<std::string> NormaliseDottedQuad(std::string_view text);

// Resolution of the socket's address, port and protocol texts; each throws ESocketException
// with the fixed messages of the socket.
TSocketAddress WSocketResolveHost(std::string_view text);
uint16_t WSocketResolvePort(std::string_view port, std::string_view proto);
int WSocketResolveProto(std::string_view text);

std::string TrimBlanks(std::string_view text);

} // namespace velmora
