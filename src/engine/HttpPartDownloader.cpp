#include "engine/HttpPartDownloader.h"

#include "net/HttpErrors.h"
#include "net/TlsErrors.h"
#include "platform/Tick.h"
#include "shell/ReportError.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace velmora {

namespace {

constexpr std::string_view kOptions = "Options";
// A server's reason text is shown as the part's status: keep it to one short line.
constexpr std::size_t kMaxShownReason = 100;

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
  return lower;
}

// The system's HTTP proxy as host:port, from "host:port" or "http=host:port;ftp=host:port".
std::string SystemHttpProxy(const platform::Environment &environment) {
  std::string settings = ReadProxySettings(environment);
  if (settings.find('=') == std::string::npos)
    return settings;
  std::string_view rest(settings);
  while (!rest.empty()) {
    const std::string_view entry = rest.substr(0, rest.find(';'));
    if (entry.starts_with("http="))
      return std::string(entry.substr(5));
    rest.remove_prefix(std::min(rest.size(), entry.size() + 1));
  }
  return {};
}

// The realm of the first authentication demand: Basic realm="Files" gives Files.
std::string RealmOf(const std::vector<std::string> &values) {
  if (values.empty())
    return {};
  const std::string &value = values.front();
  const std::size_t equals = value.find('=');
  if (equals == std::string::npos)
    return {};
  std::size_t begin = equals + 1;
  const bool quoted = begin < value.size() && value[begin] == '"';
  if (quoted)
    ++begin;
  const std::size_t end = value.find_first_of(quoted ? "\"" : "\", ", begin);
  return value.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
}

std::string ShownReason(std::string_view reason, const std::string &fallback) {
  std::string shown(reason.substr(0, kMaxShownReason));
  for (char &c : shown)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      c = ' ';
  return shown.find_first_not_of(' ') == std::string::npos ? fallback : shown;
}

// A 3xx reply with a Location: the client follows it by itself and asks the target again with
// the same range, so this header is no answer to the part.
bool IsRedirectHop(const THttpCli &client) {
  if (client.StatusCode() < 300 || client.StatusCode() >= 400)
    return false;
  return std::any_of(client.ReceivedHeaders().begin(), client.ReceivedHeaders().end(),
                     [](const std::string &line) { return Lower(line).starts_with("location:"); });
}

} // namespace

THTTPPartDownloader::THTTPPartDownloader(const THttpPartContext &context, std::string_view Url_,
                                         const std::string &FileName, int64_t StartB, int64_t EndB)
    : TPartDownloader(Url_, FileName, StartB, EndB, context.Words), context_(context),
      secure_(Url.Protocol == "https") {}

THTTPPartDownloader::~THTTPPartDownloader() { alive_.reset(); }

void THTTPPartDownloader::CreateClient() {
  Client_ = std::make_unique<THttpCli>(context_.Loop, context_.Streams);
  Client_->OnSessionConnected = [this](THttpCli &) { OnSessionConnected(); };
  Client_->OnHeaderData = [this](THttpCli &) { OnHeaderData(); };
  Client_->OnHeaderEnd = [this](THttpCli &) { OnHeaderEnd(); };
  Client_->OnDocData = [this](THttpCli &, const char *Buffer, std::size_t Len) { OnDocData(Buffer, Len); };
  Client_->OnRequestDone = [this](THttpCli &, THttpRequest, uint16_t Error) { OnRequestDone(Error); };
}

void THTTPPartDownloader::Get() {
  GuardedVoid("procedure THTTPPartDownloader.Get", [&] {
    LastActivityTick = platform::GetTickCount();
    if (!Client_)
      CreateClient();
    if (running_ || Client_->State() != httpIdle)
      throw EHttpException("HTTP component is busy", httperr::Busy);
    Aborted = false;
    Paused = false;
    detached_ = false;
    stopped_ = false;
    fruitlessReplies_ = 0;
    Client_->URL = Url.Url;
    ApplyCredentials();
    ApplyProxy();
    ApplyTls();
    Client_->Accept = "*/*";
    Client_->Agent = "Velmora";
    Client_->ReceiveStream = nullptr;
    StartRequest();
  });
}

void THTTPPartDownloader::StartRequest() {
  accepting_ = false;
  responseAccepted_ = false;
  announcedTotal_ = -1;
  replyLast_ = -1;
  std::string error;
  file_ = TPartFile::Open(PartFileName, &error);
  if (!file_.IsOpen())
    throw std::runtime_error("Couldn't open part file " + error);
  Received = file_.Size();
  if (Received < 0)
    throw std::runtime_error("Couldn't read the size of " + PartFileName);
  running_ = true;
  if (EndByte > 0 && Received >= RangeLength()) {
    FinishWithoutRequest();
    return;
  }
  receivedAtRequest_ = Received;
  Client_->ContentRangeBegin = StartByte + Received;
  Client_->ContentRangeEnd.reset();
  LastActivityTick = platform::GetTickCount();
  try {
    Client_->StartGet();
  } catch (...) {
    running_ = false;
    file_.Close();
    throw;
  }
  ++requestsStarted_;
}

void THTTPPartDownloader::ApplyCredentials() {
  ISiteCredentials &credentials = context_.Credentials;
  if (!Url.User.empty())
    credentials.SetCredentials(Url, Realm, Url.User, Url.Password);
  const std::string user = credentials.GetUser(Url, Realm);
  const std::string password = credentials.GetPassword(Url, Realm);
  Url.User = user;
  Url.Password = password;
  Client_->Username = user;
  Client_->Password = password;
}

void THTTPPartDownloader::ApplyProxy() {
  const TSettingsStore &settings = context_.Settings;
  // Turning the proxy off takes effect for a client that used it before, too.
  if (!settings.ReadBool(kOptions, "UseHTTPProxy", UseProxySettings(context_.Environment))) {
    Client_->Proxy.clear();
    Client_->ProxyUsername.clear();
    Client_->ProxyPassword.clear();
    return;
  }
  std::string address = settings.ReadString(kOptions, "HTTPProxyAddress", "");
  if (address.empty())
    address = SystemHttpProxy(context_.Environment);
  Client_->Proxy = address;
  const std::string port = settings.ReadString(kOptions, "HTTPProxyPort", "");
  Client_->ProxyPort = port.empty() ? "80" : port;
  Client_->ProxyUsername = settings.ReadString(kOptions, "HTTPProxyUser", "");
  Client_->ProxyPassword = settings.ReadString(kOptions, "HTTPProxyPass", "");
}

void THTTPPartDownloader::ApplyTls() {
  const TSettingsStore &settings = context_.Settings;
  Client_->Tls.Verify =
      context_.VerifyCertificates.value_or(settings.ReadBool(kOptions, "HTTPSVerifyCertificates", true));
  Client_->Tls.CaFile = !context_.CaCertificateFile.empty()
                            ? context_.CaCertificateFile
                            : settings.ReadString(kOptions, "HTTPSCACertificateFile", "");
}

void THTTPPartDownloader::ReportTlsFailure(uint16_t Error) {
  if (!tlserr::IsTlsError(Error) || !Client_)
    return;
  const std::string server = Client_->Location();
  const std::string &reason = Client_->Transport().TlsFailure();
  ReportError("procedure THTTPPartDownloader.OnRequestDone", server + ": " + reason);
  if (context_.OnTlsFailure)
    context_.OnTlsFailure(server, reason);
}

// The part file already holds the whole range: the part ends as a request would, but from the
// loop, since no report may come from inside Get.
void THTTPPartDownloader::FinishWithoutRequest() {
  ++requestsStarted_;
  context_.Loop.post([this, alive = std::weak_ptr<int>(alive_)] {
    if (alive.expired())
      return;
    ++requestsEnded_;
    if (requestsEnded_ < requestsStarted_ || !running_)
      return;
    GuardedVoid("procedure THTTPPartDownloader.Get", [&] { EndRequest(0); });
  });
}

void THTTPPartDownloader::Abort() {
  GuardedVoid("procedure THTTPPartDownloader.Abort", [&] {
    Aborted = true;
    if (!running_)
      EndRequest(0);
    else if (Client_->State() != httpIdle)
      Client_->Abort(); // the end of the request does the rest
  });
}

void THTTPPartDownloader::Pause() {
  GuardedVoid("procedure THTTPPartDownloader.Pause", [&] {
    Paused = true;
    if (!running_)
      EndRequest(0);
    else if (Client_->State() != httpIdle)
      Client_->Abort();
  });
}

void THTTPPartDownloader::Stop() {
  GuardedVoid("procedure THTTPPartDownloader.Stop", [&] {
    stopped_ = true;
    accepting_ = false;
    if (running_) {
      if (Client_->State() != httpIdle)
        Client_->Abort();
    } else if (State != pdsDone && State != pdsAborted && State != pdsPaused && State != pdsIdle) {
      EndRequest(0); // nothing runs that could report: the part reports the state it is in now
    }
  });
}

void THTTPPartDownloader::Detach() {
  TPartDownloader::Detach();
  detached_ = true;
  accepting_ = false;
  running_ = false;
  file_.Close();
  if (Client_ && Client_->State() != httpIdle)
    GuardedVoid("procedure THTTPPartDownloader.Detach", [&] { Client_->Abort(); });
}

void THTTPPartDownloader::OnSessionConnected() {
  GuardedVoid("procedure THTTPPartDownloader.OnSessionConnected(Sender: TObject; Error: Word)", [&] {
    if (detached_)
      return;
    LastActivityTick = platform::GetTickCount();
    if (State != pdsConnecting && State != pdsConnected)
      return; // the part asks again after a short reply: to its owner it is still under way
    State = pdsConnected;
    Notify();
  });
}

void THTTPPartDownloader::OnHeaderData() {
  if (!detached_)
    LastActivityTick = platform::GetTickCount();
}

void THTTPPartDownloader::OnHeaderEnd() {
  GuardedVoid("procedure THTTPPartDownloader.OnHeaderEnd(Sender: TObject)", [&] {
    if (detached_ || !running_)
      return;
    LastActivityTick = platform::GetTickCount();
    THttpCli &client = *Client_;
    if (IsRedirectHop(client))
      return;
    // The client reports a header cut off by the closing connection as an end of header too;
    // only a whole header (the body follows, or an empty body) is an answer to judge.
    const bool whole = client.State() == httpReceivingBody ||
                       (client.State() == httpAwaitingHeader && client.ContentLength() == 0);
    if (!whole)
      return;
    const int32_t status = client.StatusCode();
    if (status == 200 || status == 206) {
      AcceptResponse(status);
    } else if (status == 401) {
      DemandCredentials();
    } else {
      Fail(fmeFileNotFound,
           status == 404 ? Words.FileNotFound : ShownReason(client.ReasonPhrase(), Words.FileNotFound));
      client.Abort();
    }
  });
}

void THTTPPartDownloader::AcceptResponse(int32_t status) {
  THttpCli &client = *Client_;
  int64_t offset = StartByte + Received;
  int64_t total = -1;
  bool resumable = false;
  if (status == 206) {
    const TContentRange &range = client.ReplyContentRange();
    if (range.Begin != offset) {
      // Bytes from anywhere else would land at the wrong place in the part file.
      ResumeSupported = rsNo;
      ResumeText = Words.No;
      Fail(fmeResumeNotSupported, Words.ResumeIsNotSupported);
      Stop();
      return;
    }
    total = range.Total >= 0 ? range.Total : (range.End >= 0 ? range.End + 1 : -1);
    replyLast_ = range.End;
    resumable = true;
  } else {
    const bool rangeIgnored = offset != 0;
    if (rangeIgnored && StartByte == 0) {
      // The whole file comes from its first byte: what the part file held is replaced by it.
      if (!file_.Truncate(0))
        throw std::runtime_error("Couldn't cut back " + PartFileName);
      Received = 0;
      offset = 0;
    }
    if (offset != 0) {
      ResumeSupported = rsNo;
      ResumeText = Words.No;
      Fail(fmeResumeNotSupported, Words.ResumeIsNotSupported);
      Stop();
      return;
    }
    total = client.ContentLength();
    resumable = !rangeIgnored && Lower(client.AcceptRanges()).find("bytes") != std::string::npos;
  }
  ResumeSupported = resumable ? rsYes : rsNo;
  ResumeText = resumable ? Words.Yes : Words.No;
  responseAccepted_ = true;
  announcedTotal_ = total;
  State = pdsResumeKnown;
  Notify();
  if (detached_)
    return;
  if (RemoteSize == 0) {
    RemoteSize = total;
    State = pdsFileSizeKnown;
    Notify();
    if (detached_)
      return;
  } else if (RemoteSize > 0 && total >= 0 && total != RemoteSize) {
    // Another file, or the file changed on the server: nothing of it may join this one.
    Fail(fmeSizeMismatch, Words.FilesizeMismatch);
    Stop();
    return;
  }
  accepting_ = !stopped_ && !Aborted && !Paused && State != pdsError && client.State() == httpReceivingBody;
  // The first part becomes the start of the final file when the parts are joined.
  file_.WriteBehind(StartByte == 0);
}

void THTTPPartDownloader::DemandCredentials() {
  State = pdsAuthRequired;
  Realm = RealmOf(Client_->AuthenticateValues());
  ErrorText = ShownReason(Client_->ReasonPhrase(), Words.CouldntLogin);
  Client_->Abort();
}

void THTTPPartDownloader::OnDocData(const char *Buffer, std::size_t Len) {
  GuardedVoid("procedure THTTPPartDownloader.OnDocData(Sender: TObject; Buffer: Pointer; Len: Integer)", [&] {
    if (detached_ || !accepting_)
      return;
    LastActivityTick = platform::GetTickCount();
    int64_t left = static_cast<int64_t>(Len);
    while (left > 0) {
      const int64_t room = EndByte > 0 ? RangeLength() - Received : left;
      if (room <= 0) {
        Stop(); // the range is full and nobody extended it
        return;
      }
      const int64_t length = std::min(left, room);
      if (!WriteBody(Buffer, length))
        return;
      Buffer += length;
      left -= length;
      if (EndByte > 0 && Received >= RangeLength()) {
        State = pdsRangeComplete;
        Notify(); // the slot may move EndByte further during this call
        if (detached_ || !accepting_)
          return;
        if (EndByte > 0 && Received >= RangeLength()) {
          Stop();
          return;
        }
      }
    }
    if (State != pdsDownloading) {
      State = pdsDownloading;
      Notify();
    }
  });
}

bool THTTPPartDownloader::WriteBody(const char *data, int64_t length) {
  if (file_.WriteAt(Received, std::string_view(data, static_cast<std::size_t>(length)))) {
    Received += length;
    return true;
  }
  // A full disk is no fault of the server's: the status says what happened.
  Fail(fmeConnectionLost, Words.CouldntWrite + " " + PartFileName + ": " + std::strerror(errno));
  Stop();
  return false;
}

void THTTPPartDownloader::OnRequestDone(uint16_t Error) {
  GuardedVoid(
      "procedure THTTPPartDownloader.OnRequestDone(Sender: TObject; RqType: THttpRequest; Error: Word)", [&] {
        ++requestsEnded_;
        if (requestsEnded_ < requestsStarted_ || !running_)
          return; // the end of a request that an earlier Stop or Detach left behind
        EndRequest(Error);
      });
}

void THTTPPartDownloader::EndRequest(uint16_t Error) {
  const bool hadData = State == pdsDownloading || State == pdsRangeComplete;
  const bool complete = Complete(Error);
  const bool shortReply = !complete && ShortReplyEnded(Error);
  if (shortReply && AskAgain())
    return;
  running_ = false;
  accepting_ = false;
  LastActivityTick = platform::GetTickCount();
  if (file_.IsOpen()) {
    if (file_.Size() > Received)
      file_.Truncate(Received); // a write that failed half way leaves nothing unaccounted
    file_.Close();
  }
  if (Aborted) {
    DeletePartFile(PartFileName);
    State = pdsAborted;
  } else if (Paused) {
    State = pdsPaused;
  } else if (State == pdsError) {
    // the reason is set already
  } else if (State == pdsAuthRequired) {
    if (AuthTried)
      Fail(fmeLoginFailed, Words.CouldntLogin);
  } else if (Error == tlserr::CertificateNotTrusted) {
    ReportTlsFailure(Error);
    Fail(fmeCouldntConnect, Words.CertificateNotTrusted);
  } else if (complete) {
    State = pdsDone;
  } else if (IsHttpRefusal(Error)) {
    // What the server sent could not be taken: its reason tells more than a connection word.
    const std::string &word = hadData ? Words.LostConnectionToServer : Words.CouldntConnectToHost;
    Fail(hadData ? fmeConnectionLost : fmeCouldntConnect, ShownReason(Client_->ReasonPhrase(), word));
  } else if (hadData || shortReply) {
    Fail(fmeConnectionLost, Words.LostConnectionToServer);
  } else {
    ReportTlsFailure(Error);
    Fail(fmeCouldntConnect, Words.CouldntConnectToHost);
  }
  Notify();
}

bool THTTPPartDownloader::Complete(uint16_t Error) const {
  if (EndByte > 0)
    return Received >= RangeLength();
  if (!responseAccepted_)
    return false;
  const int64_t total = announcedTotal_ >= 0 ? announcedTotal_ : (RemoteSize > 0 ? RemoteSize : -1);
  if (total >= 0)
    return StartByte + Received >= total;
  return Error == 0 && !stopped_; // no length announced: only a clean close ends the body
}

// A 206 whose body ended by its own framing (its length, its last chunk, or every byte its range
// promised) before the part was whole.
bool THTTPPartDownloader::ShortReplyEnded(uint16_t Error) const {
  if (Error != 0 || replyLast_ < 0 || stopped_ || Aborted || Paused || detached_ || State == pdsError ||
      State == pdsAuthRequired)
    return false;
  const THttpCli &client = *Client_;
  return client.Chunked() || client.ContentLength() >= 0 || StartByte + Received > replyLast_;
}

// Asks for the rest on a new connection; false when the replies bring nothing or it cannot start.
bool THTTPPartDownloader::AskAgain() {
  fruitlessReplies_ = Received > receivedAtRequest_ ? 0 : fruitlessReplies_ + 1;
  if (fruitlessReplies_ > kMaxFruitlessReplies)
    return false;
  running_ = false;
  file_.Close();
  return GuardedVoid("procedure THTTPPartDownloader.Get", [&] { StartRequest(); });
}

} // namespace velmora
