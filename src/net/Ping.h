#pragma once

#include "net/Icmp.h"

#include <functional>
#include <memory>
#include <string>

namespace velmora {

// The ping component: the settings of one echo and its events around a TICMP it owns.
class TPing {
public:
  using TPingDisplay = std::function<void(TPing &sender, TICMP &icmp, const std::string &message)>;
  using TPingRequest = std::function<void(TPing &sender, TICMP &icmp)>;
  using TPingReply = std::function<void(TPing &sender, TICMP &icmp, int32_t replies)>;

  // Raises TICMPException when no echo socket can be opened.
  TPing();
  explicit TPing(std::unique_ptr<TICMP> icmp);
  // The events of the TICMP point at this object, so it stays where it was made.
  TPing(const TPing &) = delete;
  TPing &operator=(const TPing &) = delete;

  const std::string &Address() const { return icmp_->Address(); }
  void SetAddress(const std::string &address) { icmp_->SetAddress(address); }
  int32_t Size() const { return icmp_->Size; }
  void SetSize(int32_t size) { icmp_->Size = size; }
  int32_t Timeout() const { return icmp_->Timeout; }
  void SetTimeout(int32_t milliseconds) { icmp_->Timeout = milliseconds; }
  int32_t TTL() const { return icmp_->TTL; }
  void SetTTL(int32_t ttl) { icmp_->TTL = ttl; }
  int32_t Flags() const { return icmp_->Flags; }
  void SetFlags(int32_t flags) { icmp_->Flags = flags; }

  // One echo request; returns the number of replies (0 or 1).
  int32_t Ping() { return icmp_->Ping(); }
  TICMP &Icmp() { return *icmp_; }

  TPingDisplay OnDisplay;
  TPingRequest OnEchoRequest;
  TPingReply OnEchoReply;

private:
  std::unique_ptr<TICMP> icmp_;
};

} // namespace velmora
