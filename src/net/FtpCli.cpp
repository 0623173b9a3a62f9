#include "net/FtpCli.h"

#include "net/SocketErrors.h"
#include "platform/Tick.h"
#include "shell/ReportError.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace velmora {

namespace {

// The reply line the client makes up for a failed lookup or connect.
std::string SocketErrorLine(uint16_t error) {
  return "500 " + WSocketErrorDesc(error) + " (Winsock error #" + std::to_string(error) + ")";
}

// What the log shows of a command: never a password.
std::string Displayed(const std::string &command) {
  return command.rfind("PASS ", 0) == 0 ? std::string("PASS ****") : command;
}

int64_t LocalFileSize(const std::string &path) {
  struct stat status {};
  if (path.empty() || stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
    return -1;
  return status.st_size;
}

std::string PortArgument(const std::string &address, uint16_t port) {
  std::string numbers = address;
  std::replace(numbers.begin(), numbers.end(), '.', ',');
  return numbers + "," + std::to_string(port / 256) + "," + std::to_string(port % 256);
}

bool IsIpv6(const std::string &address) { return address.find(':') != std::string::npos; }

} // namespace

TFtpClient::TFtpClient(platform::EventLoop &loop)
    : loop_(loop), data_(loop), timer_(loop), block_(new char[kDataBlockSize]) {
  data_.OnEstablished = [this](uint16_t error) { Handle([&] { DataEstablished(error); }); };
  data_.OnDataAvailable = [this] { Handle([&] { DataAvailable(); }); };
  data_.OnClosed = [this](uint16_t error) { Handle([&] { DataClosed(error); }); };
  data_.OnRefused = [this](const std::string &address) {
    Handle([&] { Display("! Data connection from " + address + " refused"); });
  };
}

TFtpClient::~TFtpClient() { Disconnect(); }

template <class Event, class... Args> bool TFtpClient::Fire(const Event &event, Args &&...args) {
  const TAlive alive = Alive();
  if (event)
    event(*this, std::forward<Args>(args)...);
  return !alive.expired();
}

bool TFtpClient::SetState(TFtpState state) {
  if (state_ == state)
    return true;
  state_ = state;
  return Fire(OnStateChange);
}

bool TFtpClient::Display(const std::string &text) { return Fire(OnDisplay, text); }

template <class Body> void TFtpClient::Handle(Body &&body) {
  const TAlive alive = Alive();
  try {
    body();
  } catch (const std::exception &error) {
    if (alive.expired())
      return;
    ReportError("TFtpClient event", error.what());
    lastResponse_ = std::string("500 ") + error.what();
    Fail(ftperr::HandlerFailed);
    EndRequest(ftperr::HandlerFailed, true);
  }
}

// ---- Requests ----

void TFtpClient::CheckReady() const {
  if (requestPending_ || (state_ != ftpIdle && state_ != ftpStepDone))
    throw FtpException("FTP component not ready");
}

void TFtpClient::CheckConnected() const {
  if (!connected_)
    throw FtpException("FTP component not connected");
}

void TFtpClient::CheckSafe(const std::string &text, const char *name) {
  if (!IsSafeCommandText(text))
    throw FtpException(std::string(name) + " holds CR, LF or NUL");
}

void TFtpClient::Connect() {
  CheckReady();
  if (connected_)
    throw FtpException("FTP component already connected");
  if (UserName.empty())
    throw FtpException("UserName emtpy");
  CheckSafe(UserName, "UserName");
  CheckSafe(PassWord, "PassWord");
  StartCompound(ftpReqConnect, {stepOpen, stepUser, stepPass});
}

void TFtpClient::SetBinaryType() {
  CheckReady();
  CheckConnected();
  Binary = true;
  StartCommand(ftpReqTypeSet, std::string("TYPE ") + (Binary ? "I" : "A"),
               [](int32_t code) { return code == 200; });
}

void TFtpClient::ChangeDir() {
  CheckReady();
  CheckConnected();
  if (HostDirName.empty())
    throw FtpException("HostDirName emtpy");
  CheckSafe(HostDirName, "HostDirName");
  // 200, 250 and 257 are all met in the wild; any completion reply means the directory changed.
  StartCommand(ftpReqCwd, "CWD " + HostDirName, [](int32_t code) { return code >= 200 && code < 300; });
}

void TFtpClient::QuerySize() {
  CheckReady();
  CheckConnected();
  CheckSafe(HostFileName, "HostFileName");
  sizeResult_ = 0;
  StartCommand(ftpReqSize, "SIZE " + HostFileName, [](int32_t code) { return code == 213; });
}

void TFtpClient::SendRest() {
  CheckReady();
  CheckConnected();
  StartCompound(ftpReqRest, {stepRest});
}

void TFtpClient::RestGet() { StartRetrieve(ftpReqRestGet, {stepPort, stepRest, stepGet}); }

void TFtpClient::Get() { StartRetrieve(ftpReqGet, {stepPort, stepGet}); }

void TFtpClient::StartRetrieve(TFtpRequest type, std::vector<TStep> steps) {
  CheckReady();
  CheckConnected();
  if (LocalFileName.empty())
    throw FtpException("LocalFileName empty");
  CheckSafe(HostFileName, "HostFileName");
  restRefused_ = false;
  StartCompound(type, std::move(steps));
}

void TFtpClient::Disconnect() {
  alive_ = std::make_shared<int>(0); // every posted event and running handler of ours falls silent
  timer_.stop();
  data_.Close();
  file_.Close();
  if (control_) {
    std::unique_ptr<TWSocket> released = std::move(control_);
    released->Close();
    loop_.releaseLater(std::move(released));
  }
  reader_.Reset();
  connected_ = false;
  inRequest_ = false;
  requestPending_ = false;
  steps_.clear();
  awaiting_ = awNone;
  state_ = ftpIdle;
}

void TFtpClient::BeginRequest(TFtpRequest type) {
  requestType_ = type;
  requestPending_ = true;
  inRequest_ = true;
  requestError_ = 0;
  errorMessage_.clear();
  steps_.clear();
  awaiting_ = awNone;
  Touch();
  ArmTimer();
}

void TFtpClient::StartCompound(TFtpRequest type, std::vector<TStep> steps) {
  BeginRequest(type);
  steps_ = std::move(steps);
  Handle([&] { RunNextStep(); });
}

void TFtpClient::StartCommand(TFtpRequest type, const std::string &command,
                              std::function<bool(int32_t)> accepts) {
  BeginRequest(type);
  accepts_ = std::move(accepts);
  Handle([&] { SendCommand(command, awCommand); });
}

void TFtpClient::RunNextStep() {
  if (steps_.empty()) {
    EndRequest(requestError_);
    return;
  }
  const TStep step = steps_.front();
  steps_.erase(steps_.begin());
  switch (step) {
  case stepOpen:
    OpenStep();
    break;
  case stepUser:
    SendCommand("USER " + UserName, awUser);
    break;
  case stepPass:
    if (PassWord.empty()) {
      lastResponse_ = "530 Password emtpy";
      statusCode_ = 530;
      Fail(530);
      EndRequest(530);
    } else {
      SendCommand("PASS " + PassWord, awPass);
    }
    break;
  case stepPort:
    PortStep();
    break;
  case stepRest:
    RestStep();
    break;
  case stepGet:
    GetStep();
    break;
  }
}

void TFtpClient::StepDone(uint16_t error) {
  if (!inRequest_)
    return;
  if (error != 0 || steps_.empty()) {
    EndRequest(error);
    return;
  }
  if (!SetState(ftpStepDone))
    return;
  RunNextStep();
}

void TFtpClient::Fail(uint16_t error) {
  requestError_ = error;
  if (errorMessage_.empty())
    errorMessage_ = lastResponse_;
}

void TFtpClient::FailWithText(uint16_t error, const std::string &response, int32_t status) {
  lastResponse_ = response;
  statusCode_ = status;
  Fail(error);
  EndRequest(error);
}

void TFtpClient::EndRequest(uint16_t error, bool dropConnection) {
  if (!inRequest_)
    return;
  inRequest_ = false;
  steps_.clear();
  timer_.stop();
  const bool replyStillDue = awaiting_ != awNone;
  awaiting_ = awNone;
  data_.Close();
  file_.Close();
  if (error != 0 && errorMessage_.empty())
    errorMessage_ = lastResponse_;
  loop_.post([this, alive = Alive(), type = requestType_, error] {
    if (alive.expired())
      return;
    requestPending_ = false;
    Fire(OnRequestDone, type, error);
  });
  if ((dropConnection || replyStillDue) && !DropControl())
    return;
  SetState(ftpIdle);
}

void TFtpClient::ArmTimer() {
  if (Timeout == 0) {
    timer_.stop();
    return;
  }
  timer_.start(Timeout, false, [this] { Handle([&] { CheckTimeout(); }); });
}

void TFtpClient::CheckTimeout() {
  if (!inRequest_)
    return;
  const uint32_t elapsed = platform::TicksSince(lastActivity_);
  if (elapsed < Timeout) {
    timer_.start(Timeout - elapsed, false, [this] { Handle([&] { CheckTimeout(); }); });
    return;
  }
  if (!Display("! Timeout"))
    return;
  errorMessage_ = "Timeout waiting for the server";
  Fail(ftperr::Timeout);
  EndRequest(ftperr::Timeout, true);
}

void TFtpClient::Touch() { lastActivity_ = platform::GetTickCount(); }

// ---- The control connection ----

void TFtpClient::SendCommand(std::string command, TAwaiting awaiting) {
  if (!Fire(OnCommand, command))
    return;
  if (!IsSafeCommandText(command)) {
    lastResponse_ = "500 Invalid character in command";
    statusCode_ = 500;
    Fail(ftperr::InvalidCommand);
    EndRequest(ftperr::InvalidCommand);
    return;
  }
  if (!Display("> " + Displayed(command)))
    return;
  awaiting_ = awaiting;
  if (!SetState(ftpAwaitingReply))
    return;
  Touch();
  if (control_ && control_->State() == wsConnected)
    control_->SendText(command + "\r\n");
}

void TFtpClient::OpenStep() {
  if (control_) {
    std::unique_ptr<TWSocket> previous = std::move(control_);
    loop_.releaseLater(std::move(previous));
  }
  control_ = std::make_unique<TWSocket>(loop_);
  TWSocket *self = control_.get();
  control_->OnDnsLookupDone = [this, self](TWSocket &, uint16_t error) {
    if (self == control_.get())
      Handle([&] { LookupDone(error); });
  };
  control_->OnSessionConnected = [this, self](TWSocket &, uint16_t error) {
    if (self == control_.get())
      Handle([&] { ControlConnected(error); });
  };
  control_->OnDataAvailable = [this, self](TWSocket &, uint16_t) {
    if (self == control_.get())
      Handle([&] { ControlDataAvailable(); });
  };
  control_->OnSessionClosed = [this, self](TWSocket &, uint16_t error) {
    if (self == control_.get())
      Handle([&] { ControlClosed(error); });
  };
  reader_.Reset();
  reader_.SetAcceptLF((Options & ftpAcceptLF) != 0);
  if (!SetState(ftpResolving))
    return;
  try {
    control_->DnsLookup(HostName);
  } catch (const ESocketException &error) {
    FailWithText(500, std::string("500 ESocketException: ") + error.what(), 500);
  }
}

void TFtpClient::LookupDone(uint16_t error) {
  if (!inRequest_ || state_ != ftpResolving)
    return;
  if (error != 0) {
    FailWithText(error, SocketErrorLine(error), 500);
    return;
  }
  Touch();
  control_->SetAddr(control_->DnsResult());
  control_->SetPort(Port);
  control_->SetProto("tcp");
  awaiting_ = awBanner;
  if (!SetState(ftpAwaitingBanner))
    return;
  try {
    control_->Connect();
  } catch (const ESocketException &refusal) {
    lastResponse_ = std::string("500 ESocketException: ") + refusal.what();
    statusCode_ = 500;
    Fail(500);
    EndRequest(500, true);
  }
}

void TFtpClient::ControlConnected(uint16_t error) {
  if (!inRequest_ || state_ != ftpAwaitingBanner)
    return;
  if (error != 0) {
    awaiting_ = awNone; // the socket closes itself
    FailWithText(error, SocketErrorLine(error), 500);
    return;
  }
  connected_ = true;
  Touch();
}

void TFtpClient::ControlDataAvailable() {
  TWSocket *socket = control_.get();
  char buffer[kControlBlockSize];
  const int64_t got = socket->Receive(buffer, sizeof buffer);
  if (got <= 0)
    return; // a close is reported by its own event
  Touch();
  reader_.Feed(std::string_view(buffer, static_cast<std::size_t>(got)));
  const TAlive alive = Alive();
  while (socket == control_.get()) {
    const std::optional<TFtpReplyLine> line = reader_.Next();
    if (!line)
      break;
    HandleLine(*line);
    if (alive.expired())
      return;
  }
  if (socket != control_.get() || reader_.Error() == TFtpReplyReader::frNone)
    return;
  const uint16_t error = reader_.Error() == TFtpReplyReader::frLineTooLong    ? ftperr::LineTooLong
                         : reader_.Error() == TFtpReplyReader::frReplyTooLong ? ftperr::ReplyTooLong
                                                                              : ftperr::MalformedReply;
  errorMessage_ = error == ftperr::LineTooLong    ? "Reply line too long"
                  : error == ftperr::ReplyTooLong ? "Reply too long"
                                                  : "Malformed reply";
  if (!Display("! " + errorMessage_))
    return;
  if (inRequest_) {
    Fail(error);
    EndRequest(error, true);
  } else {
    DropControl();
  }
}

void TFtpClient::ControlClosed(uint16_t error) {
  if (connected_) {
    connected_ = false;
    if (!SetState(ftpDisconnected) || !Fire(OnSessionClosed, error))
      return;
  }
  if (!inRequest_) {
    SetState(ftpIdle);
    return;
  }
  // The server said the transfer is complete; its data may still be arriving.
  if (replyComplete_ && awaiting_ == awNone && !dataClosed_ && data_.IsOpen())
    return;
  if (!SetState(ftpStepDone))
    return;
  if (requestError_ == 0) {
    errorMessage_ = "Connection closed by the server";
    Fail(ftperr::ConnectionLost);
  }
  awaiting_ = awNone;
  EndRequest(requestError_);
}

bool TFtpClient::DropControl() {
  const TAlive alive = Alive();
  if (control_) {
    std::unique_ptr<TWSocket> released = std::move(control_);
    released->Close(); // its handlers see that it is no longer ours and stay silent
    loop_.releaseLater(std::move(released));
  }
  reader_.Reset();
  if (!connected_)
    return true;
  connected_ = false;
  return SetState(ftpDisconnected) && Fire(OnSessionClosed, uint16_t{0}) && !alive.expired();
}

void TFtpClient::HandleLine(const TFtpReplyLine &line) {
  lastResponse_ = line.Text;
  if (line.Code != 0)
    statusCode_ = line.Code;
  if (!Fire(OnResponse) || !Display("< " + line.Text) || !line.Final)
    return;
  if (state_ == ftpAwaitingBanner && awaiting_ == awBanner)
    HandleBanner(line.Code);
  else if (state_ == ftpAwaitingReply && awaiting_ != awNone)
    HandleReply(line.Code);
  // any other reply was not asked for and is passed over
}

void TFtpClient::HandleBanner(int32_t code) {
  if (code < 200)
    return; // "120 ready in n minutes": the greeting follows
  awaiting_ = awNone;
  if (code != 220) {
    Fail(static_cast<uint16_t>(code));
    EndRequest(static_cast<uint16_t>(code), true);
    return;
  }
  if (!SetState(ftpBannerReceived) || !Fire(OnSessionConnected, uint16_t{0}))
    return;
  StepDone(0);
}

void TFtpClient::HandleReply(int32_t code) {
  const TAwaiting answered = awaiting_;
  awaiting_ = awNone;
  const auto error = static_cast<uint16_t>(code);
  bool accepted = false;
  switch (answered) {
  case awNone:
  case awBanner:
    return;
  case awUser:
    accepted = code == 331 || code == 230;
    if (code == 230)
      steps_.erase(std::remove(steps_.begin(), steps_.end(), stepPass), steps_.end());
    break;
  case awPass:
    accepted = code == 230;
    break;
  case awCommand:
    if (requestType_ == ftpReqSize && code == 213)
      sizeResult_ = ParseSizeReply(lastResponse_).value_or(-1);
    accepted = accepts_(code);
    break;
  case awPort:
    accepted = code == 200 || code == 227 || code == 229;
    passiveReply_ = lastResponse_;
    break;
  case awRest:
    restAccepted_ = code == 350;
    // Bytes after a refused restart would start at offset 0 and land at the wrong place.
    restRefused_ = requestType_ == ftpReqRestGet && !restAccepted_;
    accepted = restAccepted_ || (requestType_ != ftpReqRestGet && code < 500);
    break;
  case awRetrFirst:
    RetrFirstReply(code);
    return;
  case awRetrSecond:
    RetrSecondReply(code);
    return;
  }
  if (!accepted)
    Fail(error);
  StepDone(accepted ? 0 : error);
}

// ---- Steps of a retrieve ----

void TFtpClient::PortStep() {
  data_.Close();
  dataUp_ = false;
  retrSent_ = false;
  restAccepted_ = false;
  passiveReply_.clear();
  const std::string peer = control_->PeerAddr();
  if (Passive) {
    SendCommand(IsIpv6(peer) ? "EPSV" : "PASV", awPort);
    return;
  }
  std::string command;
  try {
    const std::string local = control_->GetSockName().Addr;
    const uint16_t port = data_.Listen(local, peer);
    command = IsIpv6(local) ? "EPRT |2|" + local + "|" + std::to_string(port) + "|"
                            : "PORT " + PortArgument(local, port);
  } catch (const ESocketException &error) {
    FailWithText(550, std::string("550 ESocketException: ") + error.what(), 550);
    return;
  }
  SendCommand(command, awPort);
}

void TFtpClient::RestStep() {
  if ((Options & ftpNoAutoStartDownloadAt) == 0)
    StartDownloadAt = LocalFileSize(LocalFileName);
  if (StartDownloadAt < 0) {
    StepDone(0);
    return;
  }
  SendCommand("REST " + std::to_string(StartDownloadAt), awRest);
}

void TFtpClient::GetStep() {
  if (!restAccepted_)
    StartDownloadAt = 0;
  transferStart_ = StartDownloadAt;
  byteCount_ = 0;
  dataClosed_ = false;
  replyComplete_ = false;
  dataError_ = 0;
  localWriteError_ = 0;
  if (!file_.Open(LocalFileName, LocalStartAt, ShareMode)) {
    FailWithText(550, "Unable to open local file " + LocalFileName, 550);
    return;
  }
  file_.WriteBehind(LocalWriteBehind);
  if (Passive) {
    const std::optional<uint16_t> port =
        passiveReply_.rfind("229", 0) == 0 ? ParseEpsvPort(passiveReply_) : ParsePasvPort(passiveReply_);
    if (!port) {
      FailWithText(550, "550 Unusable passive reply: " + passiveReply_, 550);
      return;
    }
    try {
      data_.Connect(control_->PeerAddr(), *port);
    } catch (const ESocketException &error) {
      FailWithText(550, std::string("550 ESocketException: ") + error.what(), 550);
      return;
    }
  }
  retrSent_ = true;
  SendCommand(HostFileName.empty() ? std::string("RETR") : "RETR " + HostFileName, awRetrFirst);
}

void TFtpClient::RetrFirstReply(int32_t code) {
  if (code == 150 || code == 125) {
    awaiting_ = awRetrSecond;
    return;
  }
  Fail(static_cast<uint16_t>(code));
  data_.Close();
  file_.Close();
  StartDownloadAt = 0;
  EndRequest(static_cast<uint16_t>(code));
}

void TFtpClient::RetrSecondReply(int32_t code) {
  if (code == 125 || code == 226 || code == 250) {
    replyComplete_ = true;
    if (dataClosed_)
      FinishTransfer();
    return;
  }
  Fail(static_cast<uint16_t>(code));
  file_.Close();
  data_.Close();
  if (!Display("! RETR/LIST/NLST Failed"))
    return;
  EndRequest(static_cast<uint16_t>(code));
}

// ---- The data connection ----

void TFtpClient::DataEstablished(uint16_t error) {
  if (!inRequest_)
    return;
  if (error != 0) {
    FailWithText(550, "Unable to establish data connection, error #" + std::to_string(error), 550);
    return;
  }
  dataUp_ = true;
  transferStartedAt_ = platform::MonotonicMilliseconds();
  Touch();
}

void TFtpClient::DataAvailable() {
  if (!inRequest_ || !dataUp_ || dataClosed_)
    return;
  if (!retrSent_) {
    FailWithText(550, "550 Data arrived before the retrieve was asked for", 550);
    return;
  }
  bool abort = false;
  if (!Fire(OnProgress, byteCount_, abort) || !inRequest_)
    return;
  if (!abort && EndDownloadAt > 0 && transferStart_ + byteCount_ - 1 > EndDownloadAt)
    abort = true;
  if (abort) {
    if (Display("! Abort requested"))
      StopReceiving(0);
    return;
  }
  const int64_t got = data_.Receive(block_.get(), kDataBlockSize);
  if (got > 0) {
    Touch();
    byteCount_ += got;
    if (!file_.Write(block_.get(), static_cast<std::size_t>(got))) {
      localWriteError_ = file_.WriteError();
      if (Display("! Error writing local file"))
        StopReceiving(0);
    }
    return;
  }
  const int32_t receiveError = data_.LastError();
  if (got < 0 && receiveError != socketerr::WouldBlock && receiveError != 0) {
    if (Display("! Data: Receive error " + std::to_string(receiveError)))
      StopReceiving(static_cast<uint16_t>(receiveError));
  }
}

void TFtpClient::StopReceiving(uint16_t error) {
  data_.Close();
  dataClosed_ = true;
  dataError_ = error;
  if (replyComplete_)
    FinishTransfer();
}

void TFtpClient::DataClosed(uint16_t error) {
  if (!inRequest_)
    return;
  data_.Close();
  dataClosed_ = true;
  dataError_ = error;
  Touch();
  if (replyComplete_)
    FinishTransfer();
}

void TFtpClient::FinishTransfer() {
  const uint64_t elapsed = platform::MonotonicMilliseconds() - transferStartedAt_;
  std::string statistics = "! " + std::to_string(byteCount_) + " bytes received/sent in " +
                           std::to_string(elapsed / 1000) + " seconds";
  if (elapsed != 0)
    statistics += " (" + std::to_string(static_cast<uint64_t>(byteCount_) * 1000 / elapsed) + " Bytes/sec)";
  if (!Display(statistics))
    return;
  StartDownloadAt = 0;
  file_.Close();
  uint16_t error = dataError_;
  if (error == 0 && localWriteError_ != 0) {
    lastResponse_ = "550 Error writing local file " + LocalFileName + ": " + std::strerror(localWriteError_);
    statusCode_ = 550;
    error = 550;
  }
  if (error != 0)
    Fail(error);
  EndRequest(error);
}

} // namespace velmora
