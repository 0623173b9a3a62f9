#include "net/HttpProt.h"

#include "net/HttpRequest.h"
#include "net/SocketErrors.h"
#include "net/TlsErrors.h"
#include "net/WSocketException.h"
#include "shell/ReportError.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace velmora {

namespace {

constexpr int32_t kHttpPort = 80;
constexpr int32_t kHttpsPort = 443;

bool IsWebScheme(const std::string &scheme) { return scheme == "http" || scheme == "https"; }

std::string LowerText(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
  return text;
}

std::string WithScheme(const std::string &text) {
  return text.find("://") == std::string::npos ? "http://" + text : text;
}

// Whether the authority of an address names a port of its own.
bool NamesPort(const std::string &address) {
  std::string_view rest(address);
  rest.remove_prefix(rest.find("://") + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  const auto at = rest.rfind('@');
  if (at != std::string_view::npos)
    rest.remove_prefix(at + 1);
  if (rest.starts_with('['))
    return rest.find("]:") != std::string_view::npos;
  return rest.find(':') != std::string_view::npos;
}

bool IsRedirect(const THttpResponseHead &head) {
  return head.StatusCode >= 300 && head.StatusCode < 400 && head.HasLocation;
}

std::string ErrorText(int32_t error) {
  return WSocketErrorDesc(error) + " (Error #" + std::to_string(error) + ")";
}

} // namespace

THttpCli::THttpCli(platform::EventLoop &loop, const TByteStreamFactory &streamFactory)
    : loop_(loop), stream_(MakeTlsStream(loop, streamFactory)), body_(new char[kBodyBlockSize]) {
  stream_->OnDnsLookupDone = [this](uint16_t error) { Handle([&] { LookupDone(error); }); };
  stream_->OnSessionConnected = [this](uint16_t error) { Handle([&] { Connected(error); }); };
  stream_->OnDataAvailable = [this](uint16_t) { Handle([&] { DataAvailable(); }); };
  stream_->OnSessionClosed = [this](uint16_t error) { Handle([&] { ConnectionClosed(error); }); };
}

THttpCli::~THttpCli() {
  alive_.reset();
  stream_.reset();
}

template <class Body> void THttpCli::Handle(Body &&body) {
  const TGuard guard = Guard();
  try {
    body();
  } catch (const std::exception &error) {
    if (!Same(guard))
      return;
    ReportError("THttpCli event", error.what());
    Fail(httperr::HandlerFailed, error.what());
  }
}

bool THttpCli::Fire(const TEvent &event) {
  const TGuard guard = Guard();
  if (event)
    event(*this);
  return Same(guard);
}

void THttpCli::SetState(THttpState state) {
  if (state_ == state)
    return;
  state_ = state;
  Fire(OnStateChange);
}

void THttpCli::StartGet() {
  if (state_ != httpIdle)
    throw EHttpException("HTTP component is busy", httperr::Busy);
  ++serial_;
  errorCode_ = 0;
  reasonPhrase_.clear();
  location_ = URL;
  redirects_ = 0;
  target_.reset();
  rangeBegin_ = ContentRangeBegin;
  rangeEnd_ = ContentRangeEnd;
  ContentRangeBegin.reset();
  ContentRangeEnd.reset();
  ResetForHop();
  Handle([&] {
    const TGuard guard = Guard();
    SetState(httpStarting);
    if (!Same(guard))
      return;
    TUrl target(WithScheme(URL));
    username_ = target.User.empty() ? Username : target.User;
    password_ = target.User.empty() ? Password : target.Password;
    originHost_ = LowerText(target.Host);
    originPort_ = target.Port;
    proxyHost_.clear();
    proxyPort_.clear();
    if (!Proxy.empty()) {
      const std::string proxyText = WithScheme(Proxy);
      const TUrl proxy(proxyText);
      proxyHost_ = proxy.Host;
      proxyPort_ = NamesPort(proxyText) ? std::to_string(proxy.Port) : ProxyPort;
      if (proxyHost_.empty())
        return Fail(httperr::InvalidRequest, "Invalid proxy address");
    }
    if (PrepareHop(std::move(target)))
      BeginLookup();
  });
}

void THttpCli::ResetForHop() {
  parser_.Reset();
  chunks_.Reset();
  headerInProgress_ = false;
  bodyWanted_ = false;
  bodyCount_ = 0;
  deliveries_ = 0;
  connectionEnded_ = false;
  readyPosted_ = false;
  tunnel_ = tnNone;
}

bool THttpCli::PrepareHop(TUrl target) {
  const bool viaProxy = !proxyHost_.empty();
  if (!IsWebScheme(target.Protocol) || target.Host.empty() || target.Port <= 0) {
    Fail(httperr::InvalidRequest, "Invalid URL");
    return false;
  }
  const bool secure = target.Protocol == "https";
  // A server on another port may serve other sites, so the Host line names the port.
  const int32_t defaultPort = secure ? kHttpsPort : kHttpPort;
  const std::string host =
      target.HostForAddress() + (target.Port != defaultPort ? ":" + std::to_string(target.Port) : "");
  // An https request through a proxy goes inside a tunnel: the proxy sees only CONNECT.
  const bool tunnel = viaProxy && secure;
  THttpRequestFields fields;
  fields.Path = viaProxy && !tunnel ? "http://" + host + target.RequestPath() : target.RequestPath();
  fields.Host = host;
  fields.From = Sender;
  fields.Accept = Accept;
  fields.Referer = Reference;
  fields.Agent = Agent;
  fields.Cookie = Cookie;
  fields.NoCache = NoCache;
  // Credentials are for the server they were given for, never for one a redirect leads to.
  if (LowerText(target.Host) == originHost_ && target.Port == originPort_) {
    fields.Username = username_;
    fields.Password = password_;
  }
  if (viaProxy && !tunnel) {
    fields.ProxyUsername = ProxyUsername;
    fields.ProxyPassword = ProxyPassword;
  }
  fields.RangeBegin = rangeBegin_;
  fields.RangeEnd = rangeEnd_;
  auto text = BuildGetRequest(fields);
  if (!text) {
    Fail(httperr::InvalidRequest, "Invalid character in request");
    return false;
  }
  requestText_ = std::move(*text);
  tunnelText_.clear();
  if (tunnel) {
    auto connect = BuildConnectRequest(target.HostForAddress() + ":" + std::to_string(target.Port), Agent,
                                       ProxyUsername, ProxyPassword);
    if (!connect) {
      Fail(httperr::InvalidRequest, "Invalid character in request");
      return false;
    }
    tunnelText_ = std::move(*connect);
  }
  if (secure && !tunnel)
    stream_->UseTls(TTlsPeer{target.Host, target.Port, Tls});
  else
    stream_->UseTls(std::nullopt);
  connectHost_ = viaProxy ? proxyHost_ : target.Host;
  connectPort_ = viaProxy ? proxyPort_ : std::to_string(target.Port);
  target_ = std::move(target);
  return true;
}

void THttpCli::BeginLookup() {
  const TGuard guard = Guard();
  SetState(httpResolving);
  if (!Same(guard))
    return;
  try {
    stream_->DnsLookup(connectHost_);
  } catch (const ESocketException &error) {
    Fail(static_cast<uint16_t>(error.ErrorCode != 0 ? error.ErrorCode : socketerr::InvalidArgument),
         error.what());
  }
}

void THttpCli::LookupDone(uint16_t error) {
  if (state_ != httpResolving)
    return; // aborting, or an answer that no longer matters
  if (error != 0) {
    SetFailure(error, "can't resolve hostname to IP address");
    EndOfConnection();
    return;
  }
  const TGuard guard = Guard();
  SetState(httpConnecting);
  if (!Same(guard))
    return;
  try {
    stream_->Connect(stream_->DnsResult(), connectPort_, LocalAddr);
  } catch (const ESocketException &) {
    const int32_t failure = stream_->LastError() != 0 ? stream_->LastError() : socketerr::InvalidArgument;
    SetFailure(static_cast<uint16_t>(failure), "can't connect: " + FailureText(failure));
    EndOfConnection();
  }
}

std::string THttpCli::FailureText(int32_t error) const {
  return tlserr::IsTlsError(static_cast<uint32_t>(error)) ? stream_->TlsFailure() : ErrorText(error);
}

void THttpCli::Connected(uint16_t error) {
  if (state_ != httpConnecting)
    return;
  if (error != 0) {
    SetFailure(error, FailureText(error));
    EndOfConnection();
    return;
  }
  if (!tunnelText_.empty() && tunnel_ == tnNone) {
    SendTunnelRequest();
    return;
  }
  const TGuard guard = Guard();
  SetState(httpConnected);
  if (!Same(guard) || !Fire(OnSessionConnected) || connectionEnded_)
    return;
  SetState(httpAwaitingHeader);
  if (Same(guard))
    SendRequest();
}

void THttpCli::SendRequest() {
  if (!Fire(OnRequestHeaderBegin) || !Fire(OnRequestHeaderEnd) || connectionEnded_)
    return;
  try {
    stream_->Send(requestText_.data(), static_cast<int64_t>(requestText_.size()));
  } catch (const ESocketException &error) {
    Fail(static_cast<uint16_t>(error.ErrorCode), error.what());
  }
}

void THttpCli::SendTunnelRequest() {
  tunnel_ = tnAwaitingReply;
  try {
    stream_->Send(tunnelText_.data(), static_cast<int64_t>(tunnelText_.size()));
  } catch (const ESocketException &error) {
    Fail(static_cast<uint16_t>(error.ErrorCode), error.what());
  }
}

// The proxy's answer to CONNECT: a 2xx opens the tunnel, and TLS begins inside it; anything else
// is the proxy's refusal, reported with its own status as the answer to the request.
void THttpCli::ReceiveTunnelReply() {
  if (!ReceiveIntoParser())
    return;
  for (;;) {
    switch (parser_.Next()) {
    case THttpHeaderParser::hpNeedMore:
      return;
    case THttpHeaderParser::hpLine:
      if (parser_.LinesTaken() == 1)
        reasonPhrase_ = head().ReasonPhrase;
      break;
    case THttpHeaderParser::hpHeaderEnd:
      if (head().StatusCode < 200 || head().StatusCode >= 300)
        return TunnelRefused();
      if (!parser_.Remainder().empty())
        return Fail(httperr::MalformedResponse, "The proxy sent bytes into the tunnel before TLS began");
      parser_.Reset();
      tunnel_ = tnHandshake;
      stream_->StartTls(TTlsPeer{target_->Host, target_->Port, Tls});
      return;
    case THttpHeaderParser::hpNoHeader:
      return Fail(httperr::MalformedResponse, "The proxy did not answer CONNECT");
    case THttpHeaderParser::hpError:
      return Fail(parser_.ErrorNumber(), parser_.ErrorText());
    }
  }
}

void THttpCli::TunnelRefused() {
  const TGuard guard = Guard();
  headerInProgress_ = false;
  bodyWanted_ = false;
  SetState(httpReceivingBody);
  if (!Same(guard) || !Fire(OnHeaderEnd) || connectionEnded_)
    return;
  EndOfConnection();
}

void THttpCli::DataAvailable() {
  if (state_ == httpConnecting && tunnel_ == tnAwaitingReply) {
    ReceiveTunnelReply();
  } else if (state_ == httpReceivingBody) {
    ReceiveBody();
  } else if (state_ == httpAwaitingHeader) {
    ReceiveHeader();
  } else {
    char discarded[4096]; // nothing is expected now
    stream_->Receive(discarded, sizeof discarded);
  }
}

bool THttpCli::ReceiveIntoParser() {
  const int64_t received = stream_->Receive(parser_.FreeSpace(), static_cast<int64_t>(parser_.FreeSize()));
  if (received <= 0)
    return false; // the close, or an error, comes as its own event
  parser_.Commit(static_cast<std::size_t>(received));
  return true;
}

void THttpCli::ReceiveHeader() {
  if (!ReceiveIntoParser())
    return;
  for (;;) {
    switch (parser_.Next()) {
    case THttpHeaderParser::hpNeedMore:
      return;
    case THttpHeaderParser::hpLine:
      if (parser_.LinesTaken() == 1) {
        headerInProgress_ = true;
        reasonPhrase_ = head().ReasonPhrase;
        if (!Fire(OnHeaderBegin) || connectionEnded_)
          return;
      }
      if (!Fire(OnHeaderData) || connectionEnded_)
        return;
      break;
    case THttpHeaderParser::hpHeaderEnd:
      HeaderComplete();
      return;
    case THttpHeaderParser::hpNoHeader: {
      const TGuard guard = Guard();
      if (!Fire(OnHeaderBegin) || connectionEnded_)
        return;
      if (head().ContentType.empty())
        parser_.Head().ContentType = "text/html";
      bodyWanted_ = true;
      SetState(httpReceivingBody);
      if (!Same(guard) || !Fire(OnHeaderEnd) || connectionEnded_)
        return;
      DeliverRemainder();
      return;
    }
    case THttpHeaderParser::hpError:
      Fail(parser_.ErrorNumber(), parser_.ErrorText());
      return;
    }
  }
}

void THttpCli::HeaderComplete() {
  headerInProgress_ = false;
  const TGuard guard = Guard();
  if (IsRedirect(head())) {
    if (!ResolveRedirect() || !Fire(OnHeaderEnd) || connectionEnded_)
      return;
    connectionEnded_ = true;
    stream_->Close();
    FollowRedirect();
    return;
  }
  if (head().ContentLength == 0) {
    if (Fire(OnHeaderEnd) && !connectionEnded_)
      EndOfConnection();
    return;
  }
  // Only a successful response has a body for the caller: an error page, a redirect's or an
  // authentication demand's text must never end up in the caller's file.
  bodyWanted_ = head().StatusCode >= 200 && head().StatusCode < 300;
  SetState(httpReceivingBody);
  if (!Same(guard) || !Fire(OnHeaderEnd) || connectionEnded_)
    return;
  if (bodyWanted_)
    DeliverRemainder();
  else
    EndOfConnection();
}

void THttpCli::DeliverRemainder() {
  // Copied out of the header area: a handler may start another request that reuses the area.
  const std::string_view remainder = parser_.Remainder();
  const std::size_t length = remainder.size();
  std::memcpy(body_.get(), remainder.data(), length);
  parser_.ClearRemainder();
  if (length > 0)
    TakeBody(body_.get(), length);
}

bool THttpCli::ResolveRedirect() {
  if (++redirects_ > kMaxRedirects) {
    Fail(httperr::TooManyRedirects, "Too many redirects");
    return false;
  }
  TUrl base = *target_;
  base.User.clear();
  base.Password.clear();
  const std::string resolved = ResolveLocation(base, head().Location);
  TUrl next(resolved);
  if (resolved.empty() || !IsWebScheme(next.Protocol) || next.Host.empty() || next.Port <= 0) {
    Fail(httperr::BadRedirect, "Invalid redirect location");
    return false;
  }
  // User information in a Location is ignored: a server must not choose the credentials.
  next.User.clear();
  next.Password.clear();
  location_ = next.FullUrlWithQuery();
  nextTarget_ = std::move(next);
  return true;
}

void THttpCli::FollowRedirect() {
  if (!Fire(OnLocationChange))
    return;
  const TGuard guard = Guard();
  loop_.post([this, guard] {
    if (!Same(guard))
      return;
    Handle([&] {
      ResetForHop();
      if (PrepareHop(std::move(*nextTarget_)))
        BeginLookup();
    });
  });
}

void THttpCli::ReceiveBody() {
  const int64_t received = stream_->Receive(body_.get(), static_cast<int64_t>(kBodyBlockSize));
  if (received > 0)
    TakeBody(body_.get(), static_cast<std::size_t>(received));
}

void THttpCli::TakeBody(const char *data, std::size_t length) {
  if (!head().Chunked) {
    DeliverBody(data, length);
    return;
  }
  // Only the payload of the chunks is body; their framing never reaches the caller.
  const TGuard guard = Guard();
  std::string_view input(data, length);
  for (;;) {
    const THttpChunkDecoder::TStep step = chunks_.Next(input);
    switch (step.Kind) {
    case THttpChunkDecoder::ckPayload:
      DeliverBody(step.Payload.data(), step.Payload.size());
      if (!Same(guard) || connectionEnded_)
        return;
      break;
    case THttpChunkDecoder::ckNeedMore:
      return;
    case THttpChunkDecoder::ckEnd:
      EndOfConnection(); // the last chunk and the trailer are in: nothing more belongs to the body
      return;
    case THttpChunkDecoder::ckError:
      Fail(chunks_.ErrorNumber(), chunks_.ErrorText());
      return;
    }
  }
}

void THttpCli::DeliverBody(const char *data, std::size_t length) {
  const int64_t declared = head().ContentLength;
  if (declared >= 0) {
    // Bytes beyond the declared length are not part of this body.
    const int64_t left = declared - bodyCount_;
    if (left <= 0)
      return;
    length = static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(length), left));
  }
  if (deliveries_++ == 0 && (!Fire(OnDocBegin) || connectionEnded_))
    return;
  const TGuard guard = Guard();
  bodyCount_ += static_cast<int64_t>(length);
  if (ReceiveStream != nullptr)
    ReceiveStream->Write(data, length);
  if (OnDocData)
    OnDocData(*this, data, length);
  if (!Same(guard) || connectionEnded_)
    return;
  if (declared >= 0 && bodyCount_ >= declared)
    EndOfConnection(); // complete: no need to wait for the server to close
}

void THttpCli::ConnectionClosed(uint16_t error) {
  if (connectionEnded_)
    return;
  // A reset is a failure even where the close would otherwise end the body normally.
  if (error != 0)
    SetFailure(error, FailureText(error));
  else if (state_ == httpConnecting && tunnel_ == tnAwaitingReply)
    SetFailure(httperr::ConnectionLost, "The proxy closed the connection");
  EndOfConnection();
}

void THttpCli::EndOfConnection() {
  if (connectionEnded_)
    return;
  connectionEnded_ = true;
  stream_->Close(); // its closing event comes back here and is ignored
  if (headerInProgress_) {
    headerInProgress_ = false;
    if (!Fire(OnHeaderEnd))
      return;
    if (state_ != httpAborting && IsRedirect(head())) {
      if (ResolveRedirect())
        FollowRedirect();
      return;
    }
    SetFailure(httperr::ConnectionLost, "Connection closed inside the response header");
    Complete();
    return;
  }
  if (deliveries_ > 0 && !Fire(OnDocEnd))
    return;
  if (state_ == httpAwaitingHeader && parser_.LinesTaken() == 0)
    SetFailure(httperr::ConnectionLost, "Connection closed without a response");
  else if (state_ == httpReceivingBody && bodyWanted_ &&
           (head().Chunked ? !chunks_.Finished()
                           : head().ContentLength >= 0 && bodyCount_ < head().ContentLength))
    SetFailure(httperr::ConnectionLost, "Connection closed before the end of the body");
  Complete();
}

void THttpCli::SetFailure(uint16_t error, const std::string &text) {
  if (errorCode_ != 0)
    return;
  // Callers show a word for the kind of failure; the debug output says exactly what happened.
  DebugNote(target_ ? "GET http://" + target_->HostForAddress() + ":" + std::to_string(target_->Port) +
                          target_->RequestPath()
                    : "GET",
            text);
  errorCode_ = error;
  parser_.Head().StatusCode = 404;
  reasonPhrase_ = text;
}

void THttpCli::Fail(uint16_t error, const std::string &text) {
  SetFailure(error, text);
  headerInProgress_ = false;
  if (!connectionEnded_) {
    connectionEnded_ = true;
    stream_->Close();
  }
  Complete();
}

void THttpCli::Complete() {
  if (readyPosted_)
    return;
  readyPosted_ = true;
  const TGuard guard = Guard();
  loop_.post([this, guard] {
    if (Same(guard))
      GuardedVoid("THttpCli ready", [&] { BecomeIdle(); });
  });
}

void THttpCli::BecomeIdle() {
  if (state_ == httpIdle)
    return;
  ++serial_;
  const uint16_t error = errorCode_;
  std::weak_ptr<int> alive = alive_;
  SetState(httpIdle);
  loop_.post([this, alive, error] {
    if (!alive.expired() && OnRequestDone)
      GuardedVoid("THttpCli.OnRequestDone", [&] { OnRequestDone(*this, httpGET, error); });
  });
}

void THttpCli::Abort() {
  if (state_ == httpIdle) {
    GuardedVoid("THttpCli.Abort", [&] { stream_->Close(); });
    return;
  }
  if (state_ == httpAborting)
    return;
  std::weak_ptr<int> alive = alive_;
  const bool lookupPending = state_ == httpResolving;
  SetState(httpAborting);
  if (alive.expired())
    return;
  if (lookupPending)
    GuardedVoid("THttpCli.Abort", [&] { stream_->CancelDnsLookup(); });
  errorCode_ = httperr::Aborted;
  parser_.Head().StatusCode = 404;
  reasonPhrase_ = "Connection aborted on request";
  if (!connectionEnded_) {
    GuardedVoid("THttpCli.Abort", [&] { stream_->Abort(); }); // a hard stop; its close ends the connection
    if (alive.expired())
      return;
    EndOfConnection();
  }
  if (!alive.expired())
    BecomeIdle();
}

} // namespace velmora
