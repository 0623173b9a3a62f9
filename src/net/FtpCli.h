#pragma once

#include "net/FtpDataConnection.h"
#include "net/FtpErrors.h"
#include "net/FtpLocalFile.h"
#include "net/FtpReply.h"
#include "net/WSocket.h"
#include "platform/EventLoop.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

// The states of the control connection; the values are fixed, 5 and 6 are not used.
enum TFtpState : int32_t {
  ftpDisconnected = 0,   // the control connection has just closed
  ftpIdle = 1,           // ready for a request
  ftpStepDone = 2,       // between two steps of a compound request
  ftpResolving = 3,      // looking up HostName
  ftpBannerReceived = 4, // the greeting has arrived
  ftpAwaitingBanner = 7, // connecting, or connected and waiting for the greeting
  ftpAwaitingReply = 8,  // a command is sent and its reply (or the transfer) awaited
};

// The requests; the values keep the numbering of the client's full set of requests.
enum TFtpRequest : int32_t {
  ftpReqNone = 0,
  ftpReqCwd = 4,
  ftpReqConnect = 5,
  ftpReqGet = 10,
  ftpReqSize = 16,
  ftpReqTypeSet = 36,
  ftpReqRest = 37,
  ftpReqRestGet = 38,
};

enum TFtpOption : uint32_t {
  ftpAcceptLF = 1,              // a bare LF ends a reply line
  ftpNoAutoStartDownloadAt = 2, // REST sends StartDownloadAt as set, not the local file's size
};

// The asynchronous FTP client: logs on, sets the transfer type, changes directory, asks the size
// and retrieves one file (from a restart offset) into a local file at a write position of its
// own. Every request returns at once and ends with exactly one OnRequestDone, always posted to
// the loop, so its handler may start the next request or destroy the client. Each step has a
// time-out, replies are bounded, and a request that ends while a reply is still due closes the
// control connection, since that reply would be taken for the answer to the next command.
class TFtpClient {
public:
  // Bytes read from the data connection in one go.
  static constexpr int64_t kDataBlockSize = int64_t{64} * 1024;
  // Bytes read from the control connection in one go.
  static constexpr int64_t kControlBlockSize = 4096;

  explicit TFtpClient(platform::EventLoop &loop);
  ~TFtpClient();
  TFtpClient(const TFtpClient &) = delete;
  TFtpClient &operator=(const TFtpClient &) = delete;

  std::string HostName; // name or literal address
  std::string Port = "ftp";
  std::string UserName, PassWord;
  std::string HostDirName;  // for CWD
  std::string HostFileName; // for SIZE and RETR
  std::string LocalFileName;
  bool Binary = true; // TYPE I, else TYPE A
  TFtpShareMode ShareMode = ftpShareExclusive;
  uint32_t Options = ftpAcceptLF;
  bool Passive = false;
  // Milliseconds any step may wait for a reply, the data connection or data; 0: no limit.
  uint32_t Timeout = 15000;
  int64_t StartDownloadAt = 0; // remote offset sent with REST; negative: no REST
  // Remote offset of the last byte wanted; once a block carries the transfer past it, the data
  // connection is closed (the caller cuts the file). 0: no limit.
  int64_t EndDownloadAt = 0;
  int64_t LocalStartAt = 0;      // where received bytes go in the local file; 0 makes it empty
  bool LocalWriteBehind = false; // the local file is flushed soon after: the kernel writes it as it arrives

  int32_t StatusCode() const { return statusCode_; }
  const std::string &LastResponse() const { return lastResponse_; }
  // The reply (or the client's own 500 or 550 line) that made the current request fail.
  const std::string &ErrorMessage() const { return errorMessage_; }
  TFtpState State() const { return state_; }
  bool Connected() const { return connected_; }
  bool ControlOpen() const { return control_ && control_->State() != wsClosed; }
  // The size the last SIZE reply gave; 0 before it, -1 when the reply held no readable size.
  int64_t SizeResult() const { return sizeResult_; }
  int64_t ByteCount() const { return byteCount_; }
  // Why the last retrieve could not write its local file (an errno value); 0 when it could.
  int LocalWriteError() const { return localWriteError_; }
  TFtpRequest RequestType() const { return requestType_; }
  // From the start of a request until its OnRequestDone has been delivered.
  bool RequestPending() const { return requestPending_; }
  // The REST of the last retrieve was answered with anything but 350, so RETR was not sent.
  bool RestRefused() const { return restRefused_; }

  // Each throws FtpException when the request cannot start; then no OnRequestDone follows.
  void Connect();
  void SetBinaryType();
  void ChangeDir();
  void QuerySize();
  void SendRest();
  void RestGet();
  void Get();
  // Ends both connections and closes the local file at once, without QUIT or ABOR; no event of
  // any kind follows, and a posted OnRequestDone not yet delivered is dropped. The client may
  // connect again afterwards.
  void Disconnect();

  std::function<void(TFtpClient &Sender, TFtpRequest RqType, uint16_t Error)> OnRequestDone;
  // Before each read of the data connection, with ByteCount so far; setting Abort ends the transfer.
  std::function<void(TFtpClient &Sender, int64_t Count, bool &Abort)> OnProgress;
  std::function<void(TFtpClient &Sender, uint16_t Error)> OnSessionConnected;
  std::function<void(TFtpClient &Sender, uint16_t Error)> OnSessionClosed;
  std::function<void(TFtpClient &Sender)> OnStateChange;
  // Before each command is sent; the handler may change it.
  std::function<void(TFtpClient &Sender, std::string &Command)> OnCommand;
  // After each complete reply line (LastResponse).
  std::function<void(TFtpClient &Sender)> OnResponse;
  // Progress texts for a log.
  std::function<void(TFtpClient &Sender, const std::string &Text)> OnDisplay;

private:
  enum TStep { stepOpen, stepUser, stepPass, stepPort, stepRest, stepGet };
  // The continuation of the command in progress: what its final reply means.
  enum TAwaiting {
    awNone,
    awBanner,
    awUser,
    awPass,
    awCommand, // a single command with its acceptance rule
    awPort,
    awRest,
    awRetrFirst,
    awRetrSecond
  };
  using TAlive = std::weak_ptr<int>;

  TAlive Alive() const { return alive_; }
  template <class Event, class... Args> bool Fire(const Event &event, Args &&...args);
  bool SetState(TFtpState state);
  bool Display(const std::string &text);
  template <class Body> void Handle(Body &&body);

  void CheckReady() const;
  void CheckConnected() const;
  static void CheckSafe(const std::string &text, const char *name);
  void BeginRequest(TFtpRequest type);
  void StartCompound(TFtpRequest type, std::vector<TStep> steps);
  // RestGet and Get: the checks of a retrieve, then its steps.
  void StartRetrieve(TFtpRequest type, std::vector<TStep> steps);
  void StartCommand(TFtpRequest type, const std::string &command, std::function<bool(int32_t)> accepts);
  void RunNextStep();
  void StepDone(uint16_t error);
  void Fail(uint16_t error);
  void FailWithText(uint16_t error, const std::string &response, int32_t status);
  void EndRequest(uint16_t error, bool dropConnection = false);
  void ArmTimer();
  void CheckTimeout();
  void Touch();

  void SendCommand(std::string command, TAwaiting awaiting);
  void OpenStep();
  void LookupDone(uint16_t error);
  void ControlConnected(uint16_t error);
  void ControlDataAvailable();
  void ControlClosed(uint16_t error);
  bool DropControl(); // false when a handler destroyed or disconnected the client
  void HandleLine(const TFtpReplyLine &line);
  void HandleBanner(int32_t code);
  void HandleReply(int32_t code);
  void PortStep();
  void RestStep();
  void GetStep();

  void DataEstablished(uint16_t error);
  void DataAvailable();
  void StopReceiving(uint16_t error);
  void DataClosed(uint16_t error);
  void RetrFirstReply(int32_t code);
  void RetrSecondReply(int32_t code);
  void FinishTransfer();

  platform::EventLoop &loop_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
  std::unique_ptr<TWSocket> control_;
  TFtpReplyReader reader_;
  TFtpDataConnection data_;
  TFtpLocalFile file_;
  platform::LoopTimer timer_;
  uint32_t lastActivity_ = 0;

  TFtpState state_ = ftpIdle;
  bool connected_ = false;
  int32_t statusCode_ = 0;
  std::string lastResponse_;
  std::string errorMessage_;
  int64_t sizeResult_ = 0;
  int64_t byteCount_ = 0;
  TFtpRequest requestType_ = ftpReqNone;
  bool requestPending_ = false;
  bool inRequest_ = false; // a request runs and has not ended yet
  bool restRefused_ = false;

  std::vector<TStep> steps_; // steps still to run, in order
  TAwaiting awaiting_ = awNone;
  std::function<bool(int32_t)> accepts_;
  uint16_t requestError_ = 0;
  bool restAccepted_ = false;
  int localWriteError_ = 0; // of the transfer in progress; here it fills the gap before a string
  std::string passiveReply_;

  // The transfer in progress.
  int64_t transferStart_ = 0; // remote offset of the first byte the server sends
  uint64_t transferStartedAt_ = 0;
  bool retrSent_ = false;
  bool dataUp_ = false;
  bool dataClosed_ = false;
  bool replyComplete_ = false;
  uint16_t dataError_ = 0;
  std::unique_ptr<char[]> block_;
};

} // namespace velmora
