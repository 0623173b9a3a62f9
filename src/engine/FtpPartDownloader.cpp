#include "engine/FtpPartDownloader.h"

#include "engine/PartFile.h"
#include "platform/Tick.h"
#include "shell/ReportError.h"

#include <cstring>
#include <limits>
#include <stdexcept>

namespace velmora {

namespace {

constexpr std::string_view kOptions = "Options";
constexpr int32_t kDefaultTimeOutTime = 30000;

// Addresses carry names percent-encoded ("My%20Files"); the server knows them as they are. A
// decoded CR, LF or NUL is refused by the client, so it can never split a command.
std::string PercentDecoded(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const int high = HexDigitValue(text[i + 1]);
      const int low = HexDigitValue(text[i + 2]);
      if (high >= 0 && low >= 0) {
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
        continue;
      }
    }
    decoded += text[i];
  }
  return decoded;
}

} // namespace

TFTPPartDownloader::TFTPPartDownloader(const TFtpPartContext &context, std::string_view Url_,
                                       const std::string &FileName, int64_t StartB, int64_t EndB)
    : TPartDownloader(Url_, FileName, StartB, EndB, context.Words), context_(context) {}

TFTPPartDownloader::~TFTPPartDownloader() {
  alive_.reset();
  DestroyClient();
}

TFTPPartDownloader::TTarget TFTPPartDownloader::TargetFromSettings() const {
  const TSettingsStore &settings = context_.Settings;
  TTarget target;
  TUrl address = Url;
  address.User = PercentDecoded(Url.User);
  address.Password = PercentDecoded(Url.Password);
  std::string user = address.User;
  target.PassWord = address.Password;
  if (context_.Credentials != nullptr) {
    // Credentials given for the server replace those of the address; they come as typed, so
    // nothing in them is decoded.
    std::string given = context_.Credentials->GetUser(address, "");
    if (!given.empty()) {
      target.PassWord = context_.Credentials->GetPassword(address, "");
      user = std::move(given);
    }
  }
  const std::string proxy = settings.ReadString(kOptions, "FTPProxyAddress", "");
  // Without an address there is no FTP proxy to go through, whatever the switch says (its default
  // follows the system's proxy, which is an HTTP proxy more often than not).
  if (settings.ReadBool(kOptions, "UseFTPProxy", UseProxySettings(context_.Environment)) && !proxy.empty()) {
    const std::string port = settings.ReadString(kOptions, "FTPProxyPort", "");
    target.HostName = proxy;
    target.Port = port.empty() ? "ftp" : port;
    target.UserName = user + "@" + Url.HostForAddress() + ":" + std::to_string(Url.Port);
    target.Proxy = true;
  } else {
    target.HostName = Url.Host;
    target.Port = std::to_string(Url.Port);
    target.UserName = user;
  }
  return target;
}

void TFTPPartDownloader::CreateClient(const TTarget &target) {
  Client_ = std::make_unique<TFtpClient>(context_.Loop);
  target_ = target;
  Client_->HostName = target.HostName;
  Client_->Port = target.Port;
  Client_->UserName = target.UserName;
  Client_->PassWord = target.PassWord;
  Client_->Options |= ftpNoAutoStartDownloadAt;
  Client_->OnSessionConnected = [this](TFtpClient &, uint16_t) { OnSessionConnected(); };
  Client_->OnStateChange = [this](TFtpClient &) { LastActivityTick = platform::GetTickCount(); };
  Client_->OnProgress = [this](TFtpClient &, int64_t Count, bool &Abort) { OnProgress(Count, Abort); };
  Client_->OnRequestDone = [this](TFtpClient &, TFtpRequest RqType, uint16_t Error) {
    OnRequestDone(RqType, Error);
  };
}

// Ends both connections at once; the client itself goes through the loop, since this may run
// inside one of its events.
void TFTPPartDownloader::DestroyClient() {
  if (!Client_)
    return;
  Client_->Disconnect();
  context_.Loop.releaseLater(std::move(Client_));
}

bool TFTPPartDownloader::Issue(void (TFtpClient::*request)()) {
  try {
    (Client_.get()->*request)();
    return true;
  } catch (const FtpException &refusal) {
    // Only an address the client cannot use gets here (a name with a line break in it).
    ReportError("procedure TFTPPartDownloader.Get", refusal.what());
    Fail(fmeCouldntConnect, Words.CouldntConnectToHost);
    DestroyClient();
    return false;
  }
}

void TFTPPartDownloader::Get() {
  GuardedVoid("procedure TFTPPartDownloader.Get", [&] {
    LastActivityTick = platform::GetTickCount();
    Aborted = false;
    Paused = false;
    detached_ = false;
    const TTarget target = TargetFromSettings();
    // Another server, or a connection still busy with an earlier transfer, is of no use.
    if (Client_ && (target != target_ || Client_->RequestPending()))
      DestroyClient();
    if (!Client_)
      CreateClient(target);
    TFtpClient &client = *Client_;
    client.HostDirName = Url.Dir.empty() ? std::string("/") : PercentDecoded(Url.Dir);
    client.HostFileName = PercentDecoded(Url.FileName);
    client.LocalFileName = PartFileName;
    const int32_t timeout = context_.Settings.ReadInteger(kOptions, "TimeOutTime", kDefaultTimeOutTime);
    client.Timeout = static_cast<uint32_t>(timeout > 0 ? timeout : kDefaultTimeOutTime);
    if (!CreatePartFile(PartFileName))
      throw std::runtime_error("Couldn't open part file " + PartFileName);
    Existing = PartFileSize(PartFileName).value_or(0);
    if (StartByte < 0 || Existing > std::numeric_limits<int64_t>::max() - StartByte)
      throw std::runtime_error("part offset out of range");
    Received = Existing;
    if (EndByte > 0 && Existing >= RangeLength()) {
      FinishWithoutRequest();
      return;
    }
    client.StartDownloadAt = StartByte + Existing;
    client.EndDownloadAt = EndByte > 0 ? EndByte : 0;
    client.LocalStartAt = Existing;
    client.LocalWriteBehind = StartByte == 0; // the first part becomes the start of the final file
    client.Passive = target.Proxy || context_.Settings.ReadBool(kOptions, "PassiveMode", false);
    LastActivityTick = platform::GetTickCount();
    if (client.Connected() && client.State() == ftpIdle) {
      Issue(&TFtpClient::RestGet); // a logged-on connection asks for the new range at once
      if (State == pdsError)
        Notify();
      return;
    }
    client.Disconnect(); // a connection the server closed is opened afresh
    if (Issue(&TFtpClient::Connect))
      State = pdsConnecting;
    Notify();
  });
}

// The part file already holds the whole range: the part ends as a transfer would, but from the
// loop, since no report may come from inside Get.
void TFTPPartDownloader::FinishWithoutRequest() {
  context_.Loop.post([this, alive = std::weak_ptr<int>(alive_)] {
    if (alive.expired() || detached_)
      return;
    GuardedVoid("procedure TFTPPartDownloader.Get", [&] {
      CompletionCheck(0);
      Notify();
    });
  });
}

void TFTPPartDownloader::Abort() {
  GuardedVoid("procedure TFTPPartDownloader.Abort", [&] {
    Aborted = true;
    DestroyClient();
    State = pdsAborted;
    DeletePartFile(PartFileName);
    Notify();
  });
}

void TFTPPartDownloader::Pause() {
  GuardedVoid("procedure TFTPPartDownloader.Pause", [&] {
    Paused = true;
    DestroyClient();
    State = pdsPaused;
    Notify();
  });
}

void TFTPPartDownloader::Stop() {
  GuardedVoid("procedure TFTPPartDownloader.Stop", [&] {
    DestroyClient();
    Notify();
  });
}

void TFTPPartDownloader::Detach() {
  TPartDownloader::Detach();
  detached_ = true;
  DestroyClient();
}

void TFTPPartDownloader::OnSessionConnected() {
  GuardedVoid("procedure TFTPPartDownloader.OnFtpClientSessionConnected(Sender: TObject; Error: Word)", [&] {
    LastActivityTick = platform::GetTickCount();
    State = pdsConnected;
    Notify();
  });
}

void TFTPPartDownloader::OnProgress(int64_t Count, bool &Abort) {
  GuardedVoid("procedure TFTPPartDownloader.OnFtpClientProgress(Sender: TObject; Count: Integer; var Abort: "
              "Boolean)",
              [&] {
                LastActivityTick = platform::GetTickCount();
                Received = Existing + Count;
                if (State != pdsDownloading) {
                  State = pdsDownloading;
                  Notify();
                  if (detached_ || !Client_)
                    return;
                }
                if (EndByte > 0 && RangeLength() < Received) {
                  State = pdsRangeComplete;
                  Notify(); // the slot may move EndByte further during this call
                  if (detached_ || !Client_)
                    return;
                  if (EndByte > 0 && RangeLength() < Received)
                    Abort = true;
                }
                Client_->EndDownloadAt = EndByte > 0 ? EndByte : 0;
              });
}

void TFTPPartDownloader::OnRequestDone(TFtpRequest RqType, uint16_t Error) {
  GuardedVoid("procedure TFTPPartDownloader.OnFtpClientRequestDone(Sender: TObject; RqType: TFtpRequest; "
              "Error: Word)",
              [&] {
                LastActivityTick = platform::GetTickCount();
                TFtpClient &client = *Client_;
                switch (RqType) {
                case ftpReqConnect:
                  ConnectDone(Error);
                  break;
                case ftpReqTypeSet:
                  if (Error == 0)
                    Issue(&TFtpClient::ChangeDir);
                  else if (IsFtpReplyCode(Error))
                    Fail(fmeCouldntConnect, Words.CouldntConnectToHost); // no binary transfer
                  else
                    FailConnection(Error);
                  break;
                case ftpReqCwd:
                  if (Error == 0)
                    Issue(&TFtpClient::QuerySize);
                  else if (IsFtpReplyCode(Error))
                    Fail(fmeFileNotFound, Words.FileNotFound);
                  else
                    FailConnection(Error);
                  break;
                case ftpReqSize:
                  SizeDone(Error);
                  break;
                case ftpReqRest:
                  RestDone(Error);
                  break;
                case ftpReqRestGet:
                  if (client.RestRefused()) {
                    ResumeSupported = rsNo;
                    ResumeText = Words.No;
                    State = pdsResumeKnown;
                    Fallback();
                  } else {
                    CompletionCheck(Error);
                  }
                  break;
                case ftpReqGet:
                  CompletionCheck(Error);
                  break;
                case ftpReqNone:
                  break;
                }
                Notify();
              });
}

void TFTPPartDownloader::ConnectDone(uint16_t Error) {
  if (Error == 0 && Client_->StatusCode() == 230) {
    State = pdsConnected;
    Issue(&TFtpClient::SetBinaryType);
    return;
  }
  if (Error == 530)
    Fail(fmeLoginFailed, Words.CouldntLogin);
  else if (Error == ftperr::Timeout)
    Fail(fmeConnectionLost, Words.Timeout);
  else
    Fail(fmeCouldntConnect, Words.CouldntConnectToHost);
  DestroyClient();
}

// Servers that do not know SIZE answer 500, 501, 502 or 504: the file is there, its size unknown.
void TFTPPartDownloader::SizeDone(uint16_t Error) {
  const bool unknownCommand = Error == 500 || Error == 501 || Error == 502 || Error == 504;
  if (Error != 0 && !unknownCommand) {
    if (IsFtpReplyCode(Error))
      Fail(fmeFileNotFound, Words.FileNotFound);
    else
      FailConnection(Error);
    return;
  }
  const int64_t size = Error == 0 ? Client_->SizeResult() : -1;
  if (size >= 0 && RemoteSize > 0 && size != RemoteSize) {
    // Another file, or the file changed on the server: nothing of it may join this one.
    Fail(fmeSizeMismatch, Words.FilesizeMismatch);
    return;
  }
  if (size >= 0 || RemoteSize == 0)
    RemoteSize = size;
  State = pdsFileSizeKnown;
  Issue(&TFtpClient::SendRest);
}

void TFTPPartDownloader::RestDone(uint16_t Error) {
  if (Error != 0 && !IsFtpReplyCode(Error)) {
    FailConnection(Error);
    return;
  }
  const bool restarts = Error == 0 && Client_->StatusCode() == 350;
  ResumeSupported = restarts ? rsYes : rsNo;
  ResumeText = restarts ? Words.Yes : Words.No;
  State = pdsResumeKnown;
  if (restarts)
    Issue(&TFtpClient::RestGet);
  else
    Fallback();
}

// No restart: a part at 0 is fetched again from its start, any other part cannot be had here.
void TFTPPartDownloader::Fallback() {
  if (StartByte >= 1) {
    Fail(fmeResumeNotSupported, Words.ResumeIsNotSupported);
    return;
  }
  Existing = 0;
  Received = 0;
  Client_->LocalStartAt = 0;
  Client_->StartDownloadAt = 0;
  Issue(&TFtpClient::Get);
}

// Done is a matter of bytes on disk: the whole range, or the rest of a file of known size; only a
// part of unknown length trusts the server's clean end of the transfer.
void TFTPPartDownloader::CompletionCheck(uint16_t Error) {
  const int64_t size = PartFileSize(PartFileName).value_or(0);
  Received = size;
  int64_t needed = -1;
  if (EndByte > 0)
    needed = RangeLength();
  else if (RemoteSize > 0)
    needed = RemoteSize - StartByte;
  const bool complete = needed >= 0 ? size >= needed : Error == 0;
  if (complete)
    State = pdsDone;
  else if (const int writeError = Client_ ? Client_->LocalWriteError() : 0; writeError != 0)
    Fail(fmeConnectionLost, Words.CouldntWrite + " " + PartFileName + ": " + std::strerror(writeError));
  else
    FailConnection(Error);
}

void TFTPPartDownloader::FailConnection(uint16_t Error) {
  if (Error == ftperr::Timeout)
    Fail(fmeConnectionLost, Words.Timeout);
  else
    Fail(fmeConnectionLost, Words.LostConnectionToServer);
}

} // namespace velmora
