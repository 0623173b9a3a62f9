#pragma once

#include "engine/PartDownloader.h"
#include "engine/SiteCredentials.h"
#include "net/FtpCli.h"
#include "platform/Environment.h"
#include "platform/EventLoop.h"
#include "store/Registry.h"

#include <cstdint>
#include <memory>
#include <string>

namespace velmora {

// What FTP part downloaders need; it outlives them.
struct TFtpPartContext {
  platform::EventLoop &Loop;
  const TSettingsStore &Settings;    // proxy, passive mode and time-out, read at every start
  platform::Environment Environment; // the system proxy, the default of UseFTPProxy
  const TConstants &Words;
  // Who logs on, asked with an empty realm; none, or no user for the server: the address's user
  // (anonymous when it names none).
  ISiteCredentials *Credentials = nullptr;
};

// Fetches one byte range over FTP into its part file: logon, TYPE I, CWD, SIZE, REST, then the
// retrieve restarted at the first missing byte, one client request after the other. A logged-on
// idle connection to the same server is reused by the next start. Bytes are only ever written
// where they belong: a refused restart fetches a part at 0 again from its start and fails any
// other part. The size the server gives must match a size known before (RemoteSize, which the
// creator may preset with the record's size), and completion is judged by the bytes on disk.
class TFTPPartDownloader : public TPartDownloader {
public:
  TFTPPartDownloader(const TFtpPartContext &context, std::string_view Url, const std::string &FileName,
                     int64_t StartB, int64_t EndB);
  ~TFTPPartDownloader() override;

  void Get() override;
  void Abort() override;
  void Pause() override;
  void Stop() override;
  void Detach() override;
  std::string_view Protocol() const override { return "ftp"; }

  TFtpClient *Client() const { return Client_.get(); }

  int64_t Existing = 0; // bytes the part file held when Get began

private:
  // Where the control connection goes and as whom; a client is reused only for the same one.
  struct TTarget {
    std::string HostName, Port, UserName, PassWord;
    bool Proxy = false;
    bool operator==(const TTarget &) const = default;
  };

  TTarget TargetFromSettings() const;
  void CreateClient(const TTarget &target);
  void DestroyClient();
  bool Issue(void (TFtpClient::*request)());
  void FinishWithoutRequest();

  void OnSessionConnected();
  void OnProgress(int64_t Count, bool &Abort);
  void OnRequestDone(TFtpRequest RqType, uint16_t Error);
  void ConnectDone(uint16_t Error);
  void SizeDone(uint16_t Error);
  void RestDone(uint16_t Error);
  void Fallback();
  void CompletionCheck(uint16_t Error);
  void FailConnection(uint16_t Error);

  const TFtpPartContext &context_;
  std::unique_ptr<TFtpClient> Client_;
  TTarget target_;
  bool detached_ = false;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace velmora
