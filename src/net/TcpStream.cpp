#include "net/ByteStream.h"

#include "net/WSocket.h"

namespace velmora {

namespace {

class TTcpStream final : public TByteStream {
public:
  explicit TTcpStream(platform::EventLoop &loop) : socket_(loop) {
    socket_.OnDnsLookupDone = [this](TWSocket &, uint16_t error) { Forward(OnDnsLookupDone, error); };
    socket_.OnSessionConnected = [this](TWSocket &, uint16_t error) { Forward(OnSessionConnected, error); };
    socket_.OnDataAvailable = [this](TWSocket &, uint16_t error) { Forward(OnDataAvailable, error); };
    socket_.OnSessionClosed = [this](TWSocket &, uint16_t error) { Forward(OnSessionClosed, error); };
  }

  void DnsLookup(const std::string &host) override { socket_.DnsLookup(host); }
  void CancelDnsLookup() override { socket_.CancelDnsLookup(); }
  std::string DnsResult() const override { return socket_.DnsResult(); }

  void Connect(const std::string &address, const std::string &port, const std::string &localAddr) override {
    socket_.SetAddr(address);
    socket_.SetPort(port);
    socket_.SetProto("tcp");
    socket_.SetLocalAddr(localAddr);
    socket_.Connect();
  }

  int64_t Send(const void *data, int64_t length) override { return socket_.Send(data, length); }
  int64_t Receive(void *buffer, int64_t size) override { return socket_.Receive(buffer, size); }
  void Close() override { socket_.Close(); }
  void Abort() override { socket_.Abort(); }
  int32_t LastError() const override { return socket_.LastError(); }

private:
  static void Forward(const TNotify &event, uint16_t error) {
    if (event)
      event(error);
  }

  TWSocket socket_;
};

} // namespace

std::unique_ptr<TByteStream> MakeTcpStream(platform::EventLoop &loop) {
  return std::make_unique<TTcpStream>(loop);
}

} // namespace velmora
