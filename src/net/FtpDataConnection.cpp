#include "net/FtpDataConnection.h"

#include "net/SocketAddress.h"
#include "net/SocketErrors.h"

#include <sys/socket.h>
#include <unistd.h>

namespace velmora {

namespace {

std::string PeerOf(int handle) {
  TSocketAddress peer;
  peer.Length = sizeof peer.Storage;
  if (getpeername(handle, peer.Get(), &peer.Length) != 0)
    return {};
  return peer.AddressText();
}

} // namespace

std::unique_ptr<TWSocket> TFtpDataConnection::NewSocket() {
  auto socket = std::make_unique<TWSocket>(loop_);
  socket->SetProto("tcp");
  return socket;
}

void TFtpDataConnection::Drop(std::unique_ptr<TWSocket> &socket) {
  if (!socket)
    return;
  std::unique_ptr<TWSocket> released = std::move(socket);
  released->Close(); // its handlers see that it is no longer ours and stay silent
  loop_.releaseLater(std::move(released));
}

void TFtpDataConnection::Close() {
  Drop(data_);
  Drop(listener_);
}

void TFtpDataConnection::AttachData(TWSocket &socket) {
  socket.OnDataAvailable = [this, self = &socket](TWSocket &, uint16_t) {
    if (self == data_.get() && OnDataAvailable)
      OnDataAvailable();
  };
  socket.OnSessionClosed = [this, self = &socket](TWSocket &, uint16_t error) {
    if (self == data_.get() && OnClosed)
      OnClosed(error);
  };
}

void TFtpDataConnection::Connect(const std::string &address, uint16_t port) {
  Close();
  data_ = NewSocket();
  TWSocket &socket = *data_;
  socket.LingerOnOff = wsLingerOff;
  AttachData(socket);
  socket.OnSessionConnected = [this, self = &socket](TWSocket &, uint16_t error) {
    if (self == data_.get() && OnEstablished)
      OnEstablished(error);
  };
  try {
    socket.SetAddr(address);
    socket.SetPort(std::to_string(port));
    socket.Connect();
  } catch (...) {
    Drop(data_);
    throw;
  }
}

uint16_t TFtpDataConnection::Listen(const std::string &localAddress, const std::string &peerAddress) {
  Close();
  listener_ = NewSocket();
  expectedPeer_ = peerAddress;
  TWSocket &socket = *listener_;
  socket.OnSessionAvailable = [this, self = &socket](TWSocket &, uint16_t) {
    if (self == listener_.get())
      Accept();
  };
  try {
    socket.SetAddr(localAddress);
    socket.SetPort("0");
    socket.Listen();
    return socket.GetSockName().Port;
  } catch (...) {
    Drop(listener_);
    throw;
  }
}

void TFtpDataConnection::Accept() {
  int handle = -1;
  try {
    handle = listener_->Accept();
  } catch (const ESocketException &) {
    return; // the caller gave up before we took it; the listener waits for the next one
  }
  if (handle < 0)
    return;
  const std::string peer = PeerOf(handle);
  if (peer.empty() || peer != expectedPeer_) {
    ::close(handle);
    if (OnRefused)
      OnRefused(peer);
    return;
  }
  Drop(listener_);
  data_ = NewSocket();
  AttachData(*data_);
  try {
    data_->Dup(handle);
  } catch (const ESocketException &error) {
    ::close(handle); // Dup fails only before it takes the descriptor over
    Drop(data_);
    if (OnEstablished)
      OnEstablished(static_cast<uint16_t>(error.ErrorCode != 0 ? error.ErrorCode : socketerr::NotSocket));
    return;
  }
  if (OnEstablished)
    OnEstablished(0);
}

int64_t TFtpDataConnection::Receive(char *buffer, int64_t size) {
  return data_ ? data_->Receive(buffer, size) : -1;
}

} // namespace velmora
