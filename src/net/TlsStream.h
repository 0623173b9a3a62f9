#pragma once

#include "net/ByteStream.h"
#include "net/TlsContext.h"

#include <memory>
#include <optional>
#include <string>

typedef struct bio_st BIO;

namespace velmora {

// The server a TLS connection is for: the name to ask for (SNI) and to find in the certificate,
// and the port, which with the host keys the session cache.
struct TTlsPeer {
  std::string Host;
  int32_t Port = 0;
  TTlsOptions Options;
};

// A connection that speaks TLS over another byte stream when asked to, and passes bytes through
// unchanged otherwise. The handshake runs on the event loop: for a connection told before
// Connect, OnSessionConnected is raised only once the handshake is done; StartTls on an open
// connection (a proxy's tunnel) raises it again when its handshake is done. Reads and writes
// never block: the records go through memory buffers to and from the stream underneath.
class TTlsStream final : public TByteStream {
public:
  TTlsStream(platform::EventLoop &loop, std::unique_ptr<TByteStream> inner);
  ~TTlsStream() override;

  // The next Connect speaks TLS with this peer; nullopt: plain bytes. Only between connections.
  void UseTls(std::optional<TTlsPeer> peer);
  // Starts TLS on the open connection.
  void StartTls(TTlsPeer peer);
  // Whether the latest connection spoke TLS past its handshake, and resumed an earlier session;
  // both stay after its end, until the next connection.
  bool Secured() const { return secured_; }
  bool SessionReused() const { return sessionReused_; }
  // Why the last TLS error happened, in the library's words ("certificate has expired").
  const std::string &TlsFailure() const { return failure_; }

  void DnsLookup(const std::string &host) override { inner_->DnsLookup(host); }
  void CancelDnsLookup() override { inner_->CancelDnsLookup(); }
  std::string DnsResult() const override { return inner_->DnsResult(); }
  void Connect(const std::string &address, const std::string &port, const std::string &localAddr) override;
  int64_t Send(const void *data, int64_t length) override;
  int64_t Receive(void *buffer, int64_t size) override;
  void Close() override;
  void Abort() override;
  int32_t LastError() const override { return lastError_ != 0 ? lastError_ : inner_->LastError(); }

private:
  void Begin(const TTlsPeer &peer);
  void EndSession();
  void InnerConnected(uint16_t error);
  void InnerDataAvailable();
  void InnerClosed(uint16_t error);
  void ContinueHandshake();
  void HandshakeDone();
  void HandshakeFailed(uint16_t error, const std::string &reason);
  bool PullFromInner();
  bool FlushToInner();
  void DeliverBuffered();
  void ReportClose(uint16_t error);
  void Fail(uint16_t error, const std::string &reason);
  bool Buffered() const;

  platform::EventLoop &loop_;
  std::unique_ptr<TByteStream> inner_;
  std::optional<TTlsPeer> pending_; // TLS for the next connection
  SSL *ssl_ = nullptr;
  BIO *network_ = nullptr; // our end of the pair whose other end the SSL object reads and writes
  std::string sessionKey_;
  bool established_ = false;
  bool secured_ = false;
  bool sessionReused_ = false;
  bool closeNotified_ = false; // the peer ended the session properly
  bool innerClosed_ = false;
  bool closeReported_ = false;
  bool outerCloseReported_ = false; // the owner heard of the end of this connection
  bool stalled_ = false;            // the last Receive found nothing more to decrypt
  int32_t lastError_ = 0;
  uint64_t connection_ = 0; // changes with every Connect, Close and Abort
  std::string failure_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

// A TCP connection able to speak TLS: what the HTTP client uses.
std::unique_ptr<TTlsStream> MakeTlsStream(platform::EventLoop &loop, const TByteStreamFactory &inner);

} // namespace velmora
