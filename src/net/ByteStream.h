#pragma once

#include "platform/EventLoop.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace velmora {

// What a protocol client needs of a connection: lookup, connect, send, receive and close, with
// their completions reported by events from the event loop. A TCP socket provides it directly;
// an encrypting transport can wrap one without the clients noticing.
class TByteStream {
public:
  using TNotify = std::function<void(uint16_t Error)>;

  virtual ~TByteStream() = default;

  // Completion through OnDnsLookupDone; a literal address completes inside the call.
  virtual void DnsLookup(const std::string &host) = 0;
  virtual void CancelDnsLookup() = 0;
  virtual std::string DnsResult() const = 0;
  // Connects to a literal address; "0.0.0.0" as local address binds nothing. Completion through
  // OnSessionConnected. Throws ESocketException when the attempt cannot start.
  virtual void Connect(const std::string &address, const std::string &port, const std::string &localAddr) = 0;
  virtual int64_t Send(const void *data, int64_t length) = 0;
  // The count read, 0 when the peer has closed, -1 on error or when nothing is waiting.
  virtual int64_t Receive(void *buffer, int64_t size) = 0;
  virtual void Close() = 0;
  virtual void Abort() = 0;
  virtual int32_t LastError() const = 0;

  TNotify OnDnsLookupDone;
  TNotify OnSessionConnected;
  // Data can be read; the handler calls Receive, and is called again while data waits.
  TNotify OnDataAvailable;
  // The connection ended; at most once per connection.
  TNotify OnSessionClosed;
};

using TByteStreamFactory = std::function<std::unique_ptr<TByteStream>(platform::EventLoop &loop)>;

// A plain TCP connection over TWSocket.
std::unique_ptr<TByteStream> MakeTcpStream(platform::EventLoop &loop);

} // namespace velmora
