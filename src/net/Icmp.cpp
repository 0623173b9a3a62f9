#include "net/Icmp.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace velmora {

TIcmpResolved ResolveIPv4(const std::string &hostName) {
  TIcmpResolved resolved;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_RAW;
  hints.ai_flags = AI_CANONNAME;
  addrinfo *found = nullptr;
  if (hostName.empty() || ::getaddrinfo(hostName.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
    resolved.Error = kIcmpHostNotFound;
    return resolved;
  }
  resolved.Address = reinterpret_cast<const sockaddr_in *>(found->ai_addr)->sin_addr.s_addr;
  resolved.CanonicalName = found->ai_canonname != nullptr ? found->ai_canonname : hostName;
  ::freeaddrinfo(found);
  return resolved;
}

TICMP::TICMP(TIcmpResolver resolver, const std::vector<platform::IcmpSocketKind> &kinds)
    : resolver_(std::move(resolver)), socket_(std::make_unique<platform::IcmpSocket>(kinds)) {
  if (!socket_->isOpen())
    throw TICMPException("Unable to get ping handle", socket_->openError());
}

void TICMP::SetAddress(const std::string &address) {
  if (address == address_)
    return;
  address_ = address;
  resolved_ = false;
}

std::string TICMP::EchoData() const {
  std::string data(static_cast<std::size_t>(std::max(Size, 0)), ' ');
  data.replace(0, std::min(data.size(), kPingIdentification.size()),
               kPingIdentification.substr(0, std::min(data.size(), kPingIdentification.size())));
  return data;
}

void TICMP::display(const std::string &message) const {
  if (OnDisplay)
    OnDisplay(message);
}

bool TICMP::resolve() {
  in_addr dotted{};
  if (::inet_pton(AF_INET, address_.c_str(), &dotted) == 1) {
    ipv4_ = dotted.s_addr;
    hostName_ = address_;
  } else {
    const TIcmpResolved resolved = resolver_(address_);
    if (resolved.Error != 0) {
      lastError_ = resolved.Error;
      haveIpv4_ = false;
      display("Unable to resolve " + address_);
      return false;
    }
    ipv4_ = resolved.Address;
    hostName_ = resolved.CanonicalName;
  }
  // The all-ones address is the "none" of the address field, never a host to ping.
  haveIpv4_ = ipv4_ != INADDR_NONE;
  char text[INET_ADDRSTRLEN] = {};
  ::inet_ntop(AF_INET, &ipv4_, text, sizeof text);
  hostIP_ = text;
  resolved_ = true;
  return true;
}

int32_t TICMP::Ping() {
  lastError_ = 0;
  if (!resolved_)
    resolve();
  if (!resolved_ || !haveIpv4_) {
    lastError_ = kIcmpBadDestination;
    display("Invalid host address");
    return 0;
  }
  const std::string data = EchoData();
  reply_ = TIcmpEchoReply{};
  if (OnEchoRequest)
    OnEchoRequest();

  platform::IcmpEchoRequest request;
  request.target = ipv4_;
  request.sequence = ++sequence_;
  request.ttl = static_cast<uint8_t>(TTL);
  request.dontFragment = (Flags & 0x02) != 0;
  request.data = data;
  request.timeoutMs = std::max(Timeout, 0);
  const platform::IcmpEchoResult result = socket_->echo(request);

  int32_t replies = 0;
  if (result.outcome == platform::IcmpEchoResult::Replied) {
    replies = 1;
    reply_.Address = result.from;
    reply_.RTT = result.roundTripMs;
    reply_.DataSize = result.dataSize;
    reply_.Ttl = result.ttl;
    reply_.Tos = result.typeOfService;
  } else {
    lastError_ = result.outcome == platform::IcmpEchoResult::TimedOut ? kIcmpRequestTimedOut : result.error;
    reply_.Address = result.from;
    reply_.Status = static_cast<uint32_t>(lastError_);
  }
  if (OnEchoReply)
    OnEchoReply(replies);
  return replies;
}

} // namespace velmora
