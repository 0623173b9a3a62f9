#include "net/SocketAddress.h"

#include "net/AsyncResolver.h"
#include "net/SocketErrors.h"
#include "net/WSocketException.h"

#include <arpa/inet.h>
#include <cctype>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>

namespace velmora {

namespace {

sockaddr_in *AsIpv4(sockaddr_storage &storage) { return reinterpret_cast<sockaddr_in *>(&storage); }
sockaddr_in6 *AsIpv6(sockaddr_storage &storage) { return reinterpret_cast<sockaddr_in6 *>(&storage); }
const sockaddr_in *AsIpv4(const sockaddr_storage &storage) {
  return reinterpret_cast<const sockaddr_in *>(&storage);
}
const sockaddr_in6 *AsIpv6(const sockaddr_storage &storage) {
  return reinterpret_cast<const sockaddr_in6 *>(&storage);
}

bool StartsWithDigit(std::string_view text) {
  return !text.empty() && std::isdigit(static_cast<unsigned char>(text.front())) != 0;
}

// Reads the leading decimal digits; nothing when they exceed limit.
std::optional<long> LeadingNumber(std::string_view text, long limit) {
  long value = 0;
  for (char c : text) {
    if (std::isdigit(static_cast<unsigned char>(c)) == 0)
      break;
    value = value * 10 + (c - '0');
    if (value > limit)
      return std::nullopt;
  }
  return value;
}

} // namespace

std::string TrimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos)
    return {};
  const auto last = text.find_last_not_of(" \t");
  return std::string(text.substr(first, last - first + 1));
}

std::string TSocketAddress::AddressText() const {
  char text[INET6_ADDRSTRLEN] = {};
  if (Family() == AF_INET)
    inet_ntop(AF_INET, &AsIpv4(Storage)->sin_addr, text, sizeof text);
  else if (Family() == AF_INET6)
    inet_ntop(AF_INET6, &AsIpv6(Storage)->sin6_addr, text, sizeof text);
  return text;
}

uint16_t TSocketAddress::Port() const {
  if (Family() == AF_INET)
    return ntohs(AsIpv4(Storage)->sin_port);
  if (Family() == AF_INET6)
    return ntohs(AsIpv6(Storage)->sin6_port);
  return 0;
}

void TSocketAddress::SetPort(uint16_t port) {
  if (Family() == AF_INET)
    AsIpv4(Storage)->sin_port = htons(port);
  else if (Family() == AF_INET6)
    AsIpv6(Storage)->sin6_port = htons(port);
}

std::optional<TSocketAddress> TSocketAddress::FromLiteral(std::string_view text, uint16_t port) {
  std::string literal = TrimBlanks(text);
  if (literal.size() > 2 && literal.front() == '[' && literal.back() == ']')
    literal = literal.substr(1, literal.size() - 2);
  TSocketAddress address;
  if (IsDottedQuad(literal) && inet_pton(AF_INET, literal.c_str(), &AsIpv4(address.Storage)->sin_addr) == 1) {
    address.Storage.ss_family = AF_INET;
    address.Length = sizeof(sockaddr_in);
  } else if (inet_pton(AF_INET6, literal.c_str(), &AsIpv6(address.Storage)->sin6_addr) == 1) {
    address.Storage.ss_family = AF_INET6;
    address.Length = sizeof(sockaddr_in6);
  } else {
    return std::nullopt;
  }
  address.SetPort(port);
  return address;
}

bool IsDottedQuad(std::string_view text) {
  const std::string trimmed = TrimBlanks(text);
  int dots = 0;
  int digitsInPart = 0;
  int partValue = 0;
  for (char c : trimmed) {
    if (c == '.') {
      if (digitsInPart == 0)
        return false;
      ++dots;
      digitsInPart = 0;
      partValue = 0;
    } else if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
      partValue = partValue * 10 + (c - '0');
      if (++digitsInPart > 3 || partValue > 255)
        return false;
    } else {
      return false;
    }
  }
  return dots == 3 && digitsInPart > 0;
}

std::optional<std::string> NormaliseDottedQuad(std::string_view text) {
  if (!IsDottedQuad(text))
    return std::nullopt;
  // inet_pton refuses leading zeros; read the parts by hand so "010.0.0.1" means 10.0.0.1.
  std::string result;
  long part = 0;
  for (char c : TrimBlanks(text) + ".") {
    if (c == '.') {
      result += std::to_string(part) + ".";
      part = 0;
    } else {
      part = part * 10 + (c - '0');
    }
  }
  result.pop_back();
  return result;
}

TSocketAddress WSocketResolveHost(std::string_view text) {
  const std::string host(text);
  if (host.empty() || host.size() > 256)
    throw ESocketException("WSocketResolveHost: '" + host + "' Invalid Hostname.", 10022);
  if (IsDottedQuad(host)) {
    auto address = TSocketAddress::FromLiteral(*NormaliseDottedQuad(host), 0);
    if (!address)
      throw ESocketException("WSocketResolveHost: '" + host + "' Invalid IP address.", 10022);
    return *address;
  }
  if (auto literal = TSocketAddress::FromLiteral(host, 0))
    return *literal;
  const TDnsAnswer answer = LookupHost(TrimBlanks(host));
  if (answer.Error != 0)
    throw ESocketException("WSocketResolveHost: Cannot convert host address '" + host + "', Error #" +
                               std::to_string(answer.Error),
                           answer.Error);
  return *TSocketAddress::FromLiteral(answer.Addresses.front(), 0);
}

uint16_t WSocketResolvePort(std::string_view port, std::string_view proto) {
  if (port.empty() || port.size() > 31)
    throw ESocketException("WSocketResolvePort: Invalid Port.", 10022);
  if (proto.empty() || proto.size() > 31)
    throw ESocketException("WSocketResolvePort: Invalid Proto.", 10022);
  const std::string trimmed = TrimBlanks(port);
  if (StartsWithDigit(trimmed)) {
    auto value = LeadingNumber(trimmed, 65535);
    if (!value)
      throw ESocketException("WSocketResolvePort: Invalid Port.", 10022);
    return static_cast<uint16_t>(*value);
  }
  servent entry{};
  servent *found = nullptr;
  char scratch[1024];
  const std::string &name = trimmed;
  const std::string protoName(proto);
  if (getservbyname_r(name.c_str(), protoName.c_str(), &entry, scratch, sizeof scratch, &found) != 0 ||
      found == nullptr)
    throw ESocketException("WSocketResolvePort: Cannot convert port '" + name + "', Error #" +
                               std::to_string(socketerr::NoData),
                           socketerr::NoData);
  return ntohs(static_cast<uint16_t>(found->s_port));
}

int WSocketResolveProto(std::string_view text) {
  if (text.empty() || text.size() > 31)
    throw ESocketException("WSocketResolveProto: Invalid Protocol.", 10022);
  const std::string trimmed = TrimBlanks(text);
  if (StartsWithDigit(trimmed)) {
    auto value = LeadingNumber(trimmed, 255);
    if (!value)
      throw ESocketException("WSocketResolveProto: Invalid Protocol.", 10022);
    return static_cast<int>(*value);
  }
  protoent entry{};
  protoent *found = nullptr;
  char scratch[1024];
  if (getprotobyname_r(trimmed.c_str(), &entry, scratch, sizeof scratch, &found) != 0 || found == nullptr) {
    // Minimal systems may lack /etc/protocols; the one protocol the socket speaks needs no table.
    if (trimmed == "tcp")
      return IPPROTO_TCP;
    throw ESocketException("WSocketResolveProto: Cannot convert protocol '" + trimmed + "', Error #" +
                               std::to_string(socketerr::NoData),
                           socketerr::NoData);
  }
  return found->p_proto;
}

} // namespace velmora
