#pragma once

#include "net/WSocket.h"
#include "platform/EventLoop.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace velmora {

// The data connection of one transfer. Passive: it connects to the port the server named, on
// the server the control connection reached. Active: it listens on the control connection's
// local address and takes the first connection that comes from the control connection's peer;
// any other is closed at once, so nobody else can slip data into the file. Every socket it drops
// is closed at once and freed through the loop, since it may be inside its own event.
class TFtpDataConnection {
public:
  explicit TFtpDataConnection(platform::EventLoop &loop) : loop_(loop) {}
  ~TFtpDataConnection() { Close(); }
  TFtpDataConnection(const TFtpDataConnection &) = delete;
  TFtpDataConnection &operator=(const TFtpDataConnection &) = delete;

  // Throws ESocketException when the attempt cannot start.
  void Connect(const std::string &address, uint16_t port);
  // Listens and returns the port; throws ESocketException when it cannot.
  uint16_t Listen(const std::string &localAddress, const std::string &peerAddress);

  // Listening, connecting or connected.
  bool IsOpen() const { return data_ || listener_; }
  // The count read, 0 when the server has closed, -1 on error or when nothing waits.
  int64_t Receive(char *buffer, int64_t size);
  int32_t LastError() const { return data_ ? data_->LastError() : 0; }
  // Ends the connection without any event.
  void Close();

  // The connection is up (Error 0) or could not be made (a socket error number).
  std::function<void(uint16_t Error)> OnEstablished;
  std::function<void()> OnDataAvailable;
  // The server closed the connection, or it broke (a socket error number).
  std::function<void(uint16_t Error)> OnClosed;
  // A connection from another address was refused.
  std::function<void(const std::string &Address)> OnRefused;

private:
  std::unique_ptr<TWSocket> NewSocket();
  void AttachData(TWSocket &socket);
  void Accept();
  void Drop(std::unique_ptr<TWSocket> &socket);

  platform::EventLoop &loop_;
  std::unique_ptr<TWSocket> data_;
  std::unique_ptr<TWSocket> listener_;
  std::string expectedPeer_;
};

} // namespace velmora
