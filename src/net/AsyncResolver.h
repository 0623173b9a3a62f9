#pragma once

#include "platform/EventLoop.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

// The answer of one host lookup: a socket error number (0 on success) and every IPv4 address
// found, as dotted text, in the order the resolver gave them.
struct TDnsAnswer {
  int32_t Error = 0;
  std::vector<std::string> Addresses;
};

// One host lookup on a thread of its own; the answer reaches the loop through post. Cancel (and
// the destructor) guarantee that the callback never runs afterwards, so a late answer for a
// socket that is gone is dropped.
class TAsyncLookup {
public:
  using Done = std::function<void(TDnsAnswer)>;

  // Throws std::system_error when the thread cannot be started.
  TAsyncLookup(platform::EventLoop &loop, std::string host, Done done);
  ~TAsyncLookup();
  TAsyncLookup(const TAsyncLookup &) = delete;
  TAsyncLookup &operator=(const TAsyncLookup &) = delete;

  void Cancel();

private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
};

// The synchronous lookup the thread runs; also used for a host name given directly to Connect.
TDnsAnswer LookupHost(const std::string &host);

} // namespace velmora
