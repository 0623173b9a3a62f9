#pragma once

#include "net/ByteStream.h"
#include "net/HttpChunkDecoder.h"
#include "net/HttpErrors.h"
#include "net/HttpHeaderParser.h"
#include "net/TlsStream.h"
#include "platform/EventLoop.h"
#include "shell/Url.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

enum THttpState {
  httpIdle,           // accepts a new request
  httpStarting,       // StartGet is preparing the request
  httpConnected,      // the connection is open, the request is being sent
  httpResolving,      // looking up the server or proxy
  httpConnecting,     // the connection is being opened
  httpAwaitingHeader, // the request is sent; header lines arrive
  httpReceivingBody,  // the header ended; body bytes arrive
  httpAborting        // held only inside Abort
};

enum THttpRequest { httpGET };

// Where the body bytes go, owned by the caller: each block is appended in arrival order.
class TReceiveStream {
public:
  virtual ~TReceiveStream() = default;
  virtual void Write(const char *data, std::size_t length) = 0;
};

// The asynchronous HTTP/1.0 client: GET with an optional byte range, directly or through an
// HTTP proxy, with Basic credentials, following redirects by itself. A request returns at once;
// everything after it is reported by the On... events from the event loop, and exactly one
// OnRequestDone ends each request, never inside the call that ended it.
class THttpCli {
public:
  static constexpr int kMaxRedirects = 10;
  // Bytes read from the connection in one go once the body is arriving.
  static constexpr std::size_t kBodyBlockSize = std::size_t{64} * 1024;

  explicit THttpCli(platform::EventLoop &loop, const TByteStreamFactory &streamFactory = MakeTcpStream);
  ~THttpCli();
  THttpCli(const THttpCli &) = delete;
  THttpCli &operator=(const THttpCli &) = delete;

  std::string URL; // http://[user[:password]@]host[:port]/path[?query]
  std::string LocalAddr = "0.0.0.0";
  std::string Proxy; // a host, host:port or an address; empty: direct
  std::string ProxyPort = "80";
  std::string Username, Password;
  std::string ProxyUsername, ProxyPassword;
  std::string Agent = "Mozilla/3.0 (compatible)";
  std::string Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
  std::string Sender, Reference, Cookie;
  bool NoCache = false;
  // The range to ask for; both are taken and cleared by StartGet, and every redirect of the
  // request asks for the same range.
  std::optional<int64_t> ContentRangeBegin, ContentRangeEnd;
  TReceiveStream *ReceiveStream = nullptr;
  // How https servers are judged; a proxy is reached through a CONNECT tunnel for them.
  TTlsOptions Tls;

  // Throws EHttpException "HTTP component is busy" unless idle.
  void StartGet();
  void Abort();

  THttpState State() const { return state_; }
  int32_t StatusCode() const { return head().StatusCode; }
  const std::string &ReasonPhrase() const { return reasonPhrase_; }
  // -1 when the response named no length.
  int64_t ContentLength() const { return head().ContentLength; }
  const std::string &ContentType() const { return head().ContentType; }
  const std::string &AcceptRanges() const { return head().AcceptRanges; }
  // The body came in chunked transfer coding: only its last chunk ends it well.
  bool Chunked() const { return head().Chunked; }
  // The Content-Range of the response (of a 206 or a 416), so the caller can check the start
  // against the offset it asked for; all -1 when there was none.
  const TContentRange &ReplyContentRange() const { return head().ContentRange; }
  // The address the request ended on: URL unless a redirect was followed.
  const std::string &Location() const { return location_; }
  const std::vector<std::string> &ReceivedHeaders() const { return head().ReceivedHeaders; }
  const std::vector<std::string> &AuthenticateValues() const { return head().AuthenticateValues; }
  // 0, 3 after Abort, a socket error number, or one of httperr.
  uint16_t ErrorCode() const { return errorCode_; }
  int64_t BodyCount() const { return bodyCount_; }
  // The connection underneath, for what its TLS session says (resumed, why it failed).
  const TTlsStream &Transport() const { return *stream_; }

  using TEvent = std::function<void(THttpCli &Sender)>;
  TEvent OnSessionConnected;
  TEvent OnRequestHeaderBegin;
  TEvent OnRequestHeaderEnd;
  TEvent OnHeaderBegin;
  TEvent OnHeaderData;
  TEvent OnHeaderEnd;
  TEvent OnDocBegin;
  std::function<void(THttpCli &Sender, const char *Buffer, std::size_t Len)> OnDocData;
  TEvent OnDocEnd;
  TEvent OnLocationChange;
  TEvent OnStateChange;
  std::function<void(THttpCli &Sender, THttpRequest RqType, uint16_t Error)> OnRequestDone;

private:
  // Identifies the request (and the hop of a redirect chain) a posted notification belongs to.
  struct TGuard {
    std::weak_ptr<int> Alive;
    uint64_t Serial;
  };

  const THttpResponseHead &head() const { return parser_.Head(); }
  TGuard Guard() const { return {alive_, serial_}; }
  bool Same(const TGuard &guard) const { return !guard.Alive.expired() && guard.Serial == serial_; }
  bool Fire(const TEvent &event);
  void SetState(THttpState state);

  void ResetForHop();
  bool PrepareHop(TUrl target);
  void BeginLookup();
  void LookupDone(uint16_t error);
  void Connected(uint16_t error);
  void SendRequest();
  void SendTunnelRequest();
  void ReceiveTunnelReply();
  void TunnelRefused();
  std::string FailureText(int32_t error) const;
  void DataAvailable();
  // Reads what has come into the header parser; false when nothing came.
  bool ReceiveIntoParser();
  void ReceiveHeader();
  void HeaderComplete();
  bool ResolveRedirect();
  void FollowRedirect();
  void DeliverRemainder();
  void ReceiveBody();
  void TakeBody(const char *data, std::size_t length);
  void DeliverBody(const char *data, std::size_t length);
  void ConnectionClosed(uint16_t error);
  void EndOfConnection();
  void Fail(uint16_t error, const std::string &text);
  void SetFailure(uint16_t error, const std::string &text);
  void CloseConnection();
  void Complete();
  void BecomeIdle();
  template <class Body> void Handle(Body &&body);

  platform::EventLoop &loop_;
  std::unique_ptr<TTlsStream> stream_;
  THttpState state_ = httpIdle;
  uint64_t serial_ = 0;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);

  // The request as a whole.
  uint16_t errorCode_ = 0;
  std::string reasonPhrase_;
  std::string location_;
  int redirects_ = 0;
  std::string originHost_;
  int32_t originPort_ = 0;
  std::string username_, password_;
  std::optional<int64_t> rangeBegin_, rangeEnd_;
  std::string proxyHost_, proxyPort_;

  // The current hop.
  std::optional<TUrl> target_;
  std::optional<TUrl> nextTarget_; // where a redirect leads
  std::string connectHost_, connectPort_;
  std::string requestText_;
  std::string tunnelText_; // the CONNECT request of an https hop through a proxy
  bool connectionEnded_ = true;
  bool headerInProgress_ = false;
  bool bodyWanted_ = false;
  bool readyPosted_ = false;
  // An https hop through a proxy: the CONNECT exchange, then the handshake inside the tunnel.
  enum TTunnel : uint8_t { tnNone, tnAwaitingReply, tnHandshake } tunnel_ = tnNone;
  THttpHeaderParser parser_;
  THttpChunkDecoder chunks_;
  std::unique_ptr<char[]> body_;
  int64_t bodyCount_ = 0;
  int64_t deliveries_ = 0;
};

} // namespace velmora
