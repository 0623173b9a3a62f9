#pragma once

#include "platform/IcmpSocket.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace velmora {

// Error numbers a ping leaves in LastError besides the system's errno values.
inline constexpr int32_t kIcmpHostNotFound = 11001;
inline constexpr int32_t kIcmpRequestTimedOut = 11010;
inline constexpr int32_t kIcmpBadDestination = 11018;

// The text every echo request carries at the start of its data, so a captured packet shows who
// sent it; exactly 45 characters.
inline constexpr std::string_view kPingIdentification = "Velmora download manager: mirror ping request";
static_assert(kPingIdentification.size() == 45);

// Raised when no echo socket can be opened; Reason() says what the system did not permit.
class TICMPException : public std::runtime_error {
public:
  TICMPException(const std::string &message, std::string reason)
      : std::runtime_error(message), reason_(std::move(reason)) {}
  const std::string &Reason() const { return reason_; }

private:
  std::string reason_;
};

// The header of the reply of the last ping; zero when none came.
struct TIcmpEchoReply {
  uint32_t Address = 0; // replying address, network byte order
  uint32_t Status = 0;  // 0 for a reply, else the reason there was none
  uint32_t RTT = 0;     // round-trip time in milliseconds
  uint16_t DataSize = 0;
  uint16_t Reserved = 0;
  uint8_t Ttl = 0; // of the reply, where the socket kind shows it (raw sockets)
  uint8_t Tos = 0;
  uint8_t Flags = 0;
  uint8_t OptionsSize = 0;
};

// What turning a host name into an IPv4 address gave: error 0 on success.
struct TIcmpResolved {
  int32_t Error = 0;
  uint32_t Address = 0; // network byte order
  std::string CanonicalName;
};
using TIcmpResolver = std::function<TIcmpResolved(const std::string &hostName)>;
// The system's synchronous resolver (getaddrinfo, IPv4 only).
TIcmpResolved ResolveIPv4(const std::string &hostName);

// One echo socket and what a ping needs: address, data size, time-out, TTL and flags. Ping blocks
// for up to Timeout milliseconds, so it is meant for worker threads; one thread at a time.
class TICMP {
public:
  explicit TICMP(TIcmpResolver resolver = ResolveIPv4,
                 const std::vector<platform::IcmpSocketKind> &kinds = {platform::IcmpSocketKind::Datagram,
                                                                       platform::IcmpSocketKind::Raw});

  const std::string &Address() const { return address_; }
  // A text other than the current one is resolved again on the next Ping.
  void SetAddress(const std::string &address);

  // Sends one echo request and waits for its reply; returns the number of replies (0 or 1).
  int32_t Ping();

  int32_t LastError() const { return lastError_; }
  const TIcmpEchoReply &Reply() const { return reply_; }
  const std::string &HostName() const { return hostName_; }
  const std::string &HostIP() const { return hostIP_; }
  platform::IcmpSocketKind SocketKind() const { return socket_->kind(); }
  // The request data Ping sends for the current Size.
  std::string EchoData() const;

  int32_t Size = 56;
  int32_t Timeout = 4000;
  int32_t TTL = 64;
  int32_t Flags = 0; // bit 0x02: do not fragment

  std::function<void(const std::string &message)> OnDisplay;
  std::function<void()> OnEchoRequest;
  std::function<void(int32_t replies)> OnEchoReply;

private:
  bool resolve();
  void display(const std::string &message) const;

  TIcmpResolver resolver_;
  std::unique_ptr<platform::IcmpSocket> socket_;
  std::string address_;
  bool resolved_ = false;
  uint32_t ipv4_ = 0;
  bool haveIpv4_ = false;
  std::string hostName_;
  std::string hostIP_;
  uint16_t sequence_ = 0;
  int32_t lastError_ = 0;
  TIcmpEchoReply reply_;
};

} // namespace velmora
