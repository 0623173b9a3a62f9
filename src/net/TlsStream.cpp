#include "net/TlsStream.h"

#include "net/SocketAddress.h"
#include "net/SocketErrors.h"
#include "net/TlsErrors.h"
#include "net/WSocketException.h"

#include <algorithm>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

namespace velmora {

namespace {

// Each direction of the memory pair holds this much; a TLS record is at most about 16 KiB.
constexpr std::size_t kPairBufferSize = std::size_t{64} * 1024;
// Reads of buffered records per notification before the loop moves on to other work.
constexpr int kMaxDeliveryPasses = 64;
constexpr unsigned char kAlpnHttp11[] = {8, 'h', 't', 't', 'p', '/', '1', '.', '1'};

bool IsAddressLiteral(const std::string &host) { return TSocketAddress::FromLiteral(host, 0).has_value(); }

} // namespace

TTlsStream::TTlsStream(platform::EventLoop &loop, std::unique_ptr<TByteStream> inner)
    : loop_(loop), inner_(std::move(inner)) {
  inner_->OnDnsLookupDone = [this](uint16_t error) {
    if (OnDnsLookupDone)
      OnDnsLookupDone(error);
  };
  inner_->OnSessionConnected = [this](uint16_t error) { InnerConnected(error); };
  inner_->OnDataAvailable = [this](uint16_t) { InnerDataAvailable(); };
  inner_->OnSessionClosed = [this](uint16_t error) { InnerClosed(error); };
}

TTlsStream::~TTlsStream() {
  alive_.reset();
  EndSession();
  inner_.reset();
}

void TTlsStream::UseTls(std::optional<TTlsPeer> peer) { pending_ = std::move(peer); }

void TTlsStream::Connect(const std::string &address, const std::string &port, const std::string &localAddr) {
  EndSession();
  secured_ = false;
  sessionReused_ = false;
  lastError_ = 0;
  failure_.clear();
  outerCloseReported_ = false;
  ++connection_;
  inner_->Connect(address, port, localAddr);
}

void TTlsStream::InnerConnected(uint16_t error) {
  if (error != 0 || !pending_) {
    if (OnSessionConnected)
      OnSessionConnected(error);
    return;
  }
  Begin(*pending_);
  if (ssl_ != nullptr)
    ContinueHandshake();
}

void TTlsStream::StartTls(TTlsPeer peer) {
  // Begun from the loop: a failure is reported as an event, never inside this call.
  loop_.post([this, alive = std::weak_ptr<int>(alive_), connection = connection_, peer = std::move(peer)] {
    if (alive.expired() || connection != connection_ || innerClosed_)
      return;
    Begin(peer);
    if (ssl_ != nullptr)
      ContinueHandshake();
  });
}

void TTlsStream::Begin(const TTlsPeer &peer) {
  EndSession();
  TTlsContext &context = TTlsContext::Process();
  if (context.Context() == nullptr)
    return HandshakeFailed(tlserr::Setup, context.SetupError());
  X509_STORE *store = nullptr;
  if (peer.Options.Verify && !peer.Options.CaFile.empty()) {
    std::string error;
    store = context.StoreWith(peer.Options.CaFile, error);
    if (store == nullptr)
      return HandshakeFailed(tlserr::Setup, error);
  }
  ERR_clear_error();
  ssl_ = SSL_new(context.Context());
  BIO *internal = nullptr;
  if (ssl_ == nullptr || BIO_new_bio_pair(&internal, kPairBufferSize, &network_, kPairBufferSize) != 1) {
    SSL_free(ssl_);
    ssl_ = nullptr;
    return HandshakeFailed(tlserr::Setup, TlsLibraryError("TLS connection could not be set up"));
  }
  SSL_set_bio(ssl_, internal, internal);
  // Sessions are kept per server and per way of judging it: one accepted without verification
  // must never stand in for a verified one.
  sessionKey_ = peer.Host + ":" + std::to_string(peer.Port) + (peer.Options.Verify ? "|verified|" : "|any|") +
                peer.Options.CaFile;
  SSL_set_ex_data(ssl_, TTlsContext::KeyIndex(), &sessionKey_);
  const bool literal = IsAddressLiteral(peer.Host);
  if (peer.Options.Verify) {
    SSL_set_verify(ssl_, SSL_VERIFY_PEER, nullptr);
    if (store != nullptr)
      SSL_ctrl(ssl_, SSL_CTRL_SET_VERIFY_CERT_STORE, 1, store); // SSL_set1_verify_cert_store
    const int named = literal ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), peer.Host.c_str())
                              : SSL_set1_host(ssl_, peer.Host.c_str());
    if (named != 1)
      return HandshakeFailed(tlserr::Setup, "cannot check the certificate against " + peer.Host);
  } else {
    SSL_set_verify(ssl_, SSL_VERIFY_NONE, nullptr);
  }
  if (!literal)
    SSL_ctrl(ssl_, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
             const_cast<char *>(peer.Host.c_str())); // SSL_set_tlsext_host_name, without its C cast
  SSL_set_alpn_protos(ssl_, kAlpnHttp11, sizeof kAlpnHttp11);
  if (SSL_SESSION *session = context.SessionFor(sessionKey_)) {
    SSL_set_session(ssl_, session);
    SSL_SESSION_free(session);
  }
  SSL_set_connect_state(ssl_);
  secured_ = false;
  sessionReused_ = false;
}

void TTlsStream::EndSession() {
  if (ssl_ != nullptr) {
    SSL_free(ssl_);
    ssl_ = nullptr;
  }
  if (network_ != nullptr) {
    BIO_free(network_);
    network_ = nullptr;
  }
  established_ = false;
  closeNotified_ = false;
  innerClosed_ = false;
  closeReported_ = false;
  stalled_ = false;
}

void TTlsStream::ContinueHandshake() {
  ERR_clear_error();
  const int result = SSL_do_handshake(ssl_);
  if (!FlushToInner())
    return;
  if (result == 1)
    return HandshakeDone();
  const int error = SSL_get_error(ssl_, result);
  if ((error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) && !innerClosed_)
    return; // the server's next flight comes as data
  const long verified = SSL_get_verify_result(ssl_);
  if (verified != X509_V_OK && SSL_get_verify_mode(ssl_) != SSL_VERIFY_NONE)
    return HandshakeFailed(tlserr::CertificateNotTrusted, X509_verify_cert_error_string(verified));
  HandshakeFailed(tlserr::HandshakeFailed,
                  "TLS handshake failed: " + TlsLibraryError(innerClosed_ ? "the server closed the connection"
                                                                          : "no TLS answer from the server"));
}

void TTlsStream::HandshakeDone() {
  established_ = true;
  secured_ = true;
  sessionReused_ = SSL_session_reused(ssl_) == 1;
  TTlsContext &context = TTlsContext::Process();
  ++(sessionReused_ ? context.ResumedHandshakes : context.FullHandshakes);
  const std::weak_ptr<int> alive = alive_;
  SSL *const ssl = ssl_;
  if (OnSessionConnected)
    OnSessionConnected(0);
  // Records that came with the handshake's last flight are not announced again by the socket.
  if (!alive.expired() && ssl_ == ssl && Buffered())
    DeliverBuffered();
}

void TTlsStream::HandshakeFailed(uint16_t error, const std::string &reason) {
  lastError_ = error;
  failure_ = reason;
  if (!sessionKey_.empty())
    TTlsContext::Process().Forget(sessionKey_);
  const std::weak_ptr<int> alive = alive_;
  if (OnSessionConnected)
    OnSessionConnected(error);
  if (alive.expired() || ssl_ == nullptr)
    return; // the owner closed the connection already
  // Nothing may go over a connection that failed its check; the owner hears of the close.
  EndSession();
  inner_->Abort();
}

bool TTlsStream::Buffered() const {
  return ssl_ != nullptr && (SSL_pending(ssl_) > 0 || BIO_ctrl_pending(SSL_get_rbio(ssl_)) > 0);
}

bool TTlsStream::PullFromInner() {
  if (innerClosed_)
    return false;
  char *room = nullptr;
  const int free = BIO_nwrite0(network_, &room);
  if (free <= 0)
    return false;
  const int64_t received = inner_->Receive(room, free);
  if (received < 0)
    return false;
  if (received == 0) {
    // The server's end of the connection: what follows is an end of file for the library.
    innerClosed_ = true;
    BIO_shutdown_wr(network_);
    return true;
  }
  BIO_nwrite(network_, &room, static_cast<int>(received));
  return true;
}

bool TTlsStream::FlushToInner() {
  char *data = nullptr;
  for (int available; (available = BIO_nread0(network_, &data)) > 0;) {
    try {
      inner_->Send(data, available);
    } catch (const ESocketException &error) {
      Fail(static_cast<uint16_t>(error.ErrorCode != 0 ? error.ErrorCode : socketerr::NotConnected),
           error.what());
      return false;
    }
    BIO_nread(network_, &data, available);
  }
  return true;
}

void TTlsStream::InnerDataAvailable() {
  if (ssl_ == nullptr) {
    if (OnDataAvailable)
      OnDataAvailable(0);
    return;
  }
  if (!established_) {
    const std::weak_ptr<int> alive = alive_;
    while (ssl_ != nullptr && !established_ && PullFromInner()) {
      ContinueHandshake();
      if (alive.expired())
        return;
    }
    return;
  }
  DeliverBuffered();
}

void TTlsStream::DeliverBuffered() {
  const std::weak_ptr<int> alive = alive_;
  SSL *const ssl = ssl_;
  const auto same = [&] { return !alive.expired() && ssl_ == ssl && ssl != nullptr; };
  for (int pass = 0; pass < kMaxDeliveryPasses; ++pass) {
    stalled_ = false;
    if (OnDataAvailable)
      OnDataAvailable(0);
    if (!same())
      return;
    if (lastError_ != 0 && tlserr::IsTlsError(static_cast<uint32_t>(lastError_)))
      return ReportClose(static_cast<uint16_t>(lastError_));
    if (closeNotified_)
      return ReportClose(0);
    if (stalled_ || !Buffered())
      return;
  }
  // More records wait than one turn may take: the rest follows after the loop's other work.
  loop_.post([this, alive, ssl] {
    if (!alive.expired() && ssl_ == ssl && ssl != nullptr)
      DeliverBuffered();
  });
}

int64_t TTlsStream::Receive(void *buffer, int64_t size) {
  if (ssl_ == nullptr)
    return inner_->Receive(buffer, size);
  if (!established_ || closeReported_ || size <= 0) {
    lastError_ = socketerr::WouldBlock;
    return -1;
  }
  // A record holds at most 16 KiB: the buffer is filled from as many as have arrived, so the
  // caller gets blocks as large as over a plain connection.
  char *const bytes = static_cast<char *>(buffer);
  const int wanted = static_cast<int>(std::min<int64_t>(size, 1 << 30));
  int taken = 0;
  while (taken < wanted) {
    ERR_clear_error();
    const int result = SSL_read(ssl_, bytes + taken, wanted - taken);
    if (result > 0) {
      taken += result;
      continue;
    }
    const int error = SSL_get_error(ssl_, result);
    if (error == SSL_ERROR_WANT_READ && PullFromInner())
      continue;
    if (error == SSL_ERROR_WANT_WRITE && FlushToInner())
      continue;
    if (error == SSL_ERROR_ZERO_RETURN)
      closeNotified_ = true;
    if (taken > 0)
      break; // an error is met again by the next call, after these bytes
    if (error == SSL_ERROR_ZERO_RETURN)
      return 0;
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      stalled_ = true;
      lastError_ = socketerr::WouldBlock;
      return -1;
    }
    if (innerClosed_ && !closeNotified_)
      Fail(tlserr::Truncated, "the server ended the TLS connection without close_notify");
    else
      Fail(tlserr::ProtocolError, "TLS error: " + TlsLibraryError("broken record"));
    return -1;
  }
  if (BIO_ctrl_pending(network_) > 0)
    FlushToInner(); // a key update or a ticket acknowledgement
  return taken;
}

int64_t TTlsStream::Send(const void *data, int64_t length) {
  if (ssl_ == nullptr)
    return inner_->Send(data, length);
  if (!established_ || length < 0)
    throw ESocketException("Send: the TLS session is not open", socketerr::NotConnected);
  const char *bytes = static_cast<const char *>(data);
  int64_t left = length;
  while (left > 0) {
    ERR_clear_error();
    const int chunk = static_cast<int>(std::min<int64_t>(left, int64_t{16} * 1024));
    const int written = SSL_write(ssl_, bytes, chunk);
    if (written > 0) {
      bytes += written;
      left -= written;
    } else if (SSL_get_error(ssl_, written) != SSL_ERROR_WANT_WRITE) {
      throw ESocketException("Send: " + TlsLibraryError("TLS write failed"), tlserr::ProtocolError);
    }
    if (!FlushToInner())
      throw ESocketException("Send: " + failure_, socketerr::NotConnected);
  }
  return length;
}

void TTlsStream::Fail(uint16_t error, const std::string &reason) {
  if (lastError_ == 0 || !tlserr::IsTlsError(static_cast<uint32_t>(lastError_))) {
    lastError_ = error;
    failure_ = reason;
  }
}

void TTlsStream::InnerClosed(uint16_t error) {
  if (ssl_ == nullptr) {
    if (!outerCloseReported_) {
      outerCloseReported_ = true;
      if (OnSessionClosed)
        OnSessionClosed(error);
    }
    return;
  }
  innerClosed_ = true;
  if (network_ != nullptr)
    BIO_shutdown_wr(network_);
  if (!established_) {
    HandshakeFailed(tlserr::HandshakeFailed, "TLS handshake failed: the server closed the connection");
    return;
  }
  // What the server sent before closing is read first; the end is judged by close_notify.
  const std::weak_ptr<int> alive = alive_;
  SSL *const ssl = ssl_;
  if (Buffered())
    DeliverBuffered();
  if (alive.expired() || ssl_ != ssl || closeReported_)
    return;
  if (!closeNotified_ && error == 0)
    Fail(tlserr::Truncated, "the server ended the TLS connection without close_notify");
  ReportClose(closeNotified_ ? 0 : (error != 0 ? error : static_cast<uint16_t>(lastError_)));
}

void TTlsStream::ReportClose(uint16_t error) {
  if (closeReported_)
    return;
  closeReported_ = true;
  outerCloseReported_ = true;
  if (OnSessionClosed)
    OnSessionClosed(error);
}

void TTlsStream::Close() {
  if (ssl_ != nullptr && established_ && !innerClosed_ && !closeReported_) {
    SSL_shutdown(ssl_); // close_notify: the server knows the end was meant
    FlushToInner();
  }
  EndSession();
  ++connection_;
  inner_->Close();
}

void TTlsStream::Abort() {
  EndSession();
  ++connection_;
  inner_->Abort();
}

std::unique_ptr<TTlsStream> MakeTlsStream(platform::EventLoop &loop, const TByteStreamFactory &inner) {
  return std::make_unique<TTlsStream>(loop, inner(loop));
}

} // namespace velmora
