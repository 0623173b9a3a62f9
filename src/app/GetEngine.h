#pragma once

#include "app/AppEnvironment.h"
#include "app/GetOptions.h"
#include "engine/Downloader.h"
#include "engine/FtpPartDownloader.h"
#include "engine/HttpPartDownloader.h"
#include "engine/PartDownloaderFactory.h"
#include "engine/SiteCredentials.h"
#include "engine/SiteManager.h"
#include "mirrors/GetMirrorList.h"
#include "mirrors/MirrorPing.h"
#include "mirrors/ServerStats.h"
#include "platform/Environment.h"
#include "platform/EventLoop.h"
#include "store/LocalDownloadInfo.h"

#include <memory>
#include <optional>
#include <string>

namespace velmora {

// Exit statuses of velmora-get.
enum TGetExit : int { geOk = 0, geFailed = 1, geUsage = 2, geInterrupted = 130 };

// The system's environment, with the command line's proxy (when given) in place of the system's.
platform::Environment ProxyEnvironment(const std::string &proxy);

// The credentials of the command line, else those of the address, for both protocols. The
// address's password belongs to the address's user: with another user named on the command line
// and no password, the password is empty.
class TCommandLineCredentials : public ISiteCredentials {
public:
  TCommandLineCredentials(std::optional<std::string> user, std::optional<std::string> password)
      : user_(std::move(user)), password_(std::move(password)) {}
  void SetCredentials(const TUrl &, const std::string &, const std::string &, const std::string &) override {}
  std::string GetUser(const TUrl &Url, const std::string &) override { return user_.value_or(Url.User); }
  std::string GetPassword(const TUrl &Url, const std::string &) override {
    if (password_)
      return *password_;
    return user_ && *user_ != Url.User ? std::string() : Url.Password;
  }

private:
  std::optional<std::string> user_, password_;
};

// The engine as velmora-get runs it, for one URL or several: its loop, the part downloaders of
// both protocols with the command line's credentials and proxy, the mirror services and the
// context of the record files.
struct TGetEngine {
  TGetEngine(TAppEnvironment &app, const TGetOptions &options);
  TGetEngine(const TGetEngine &) = delete;
  TGetEngine &operator=(const TGetEngine &) = delete;

  // The record in the partial-downloads folder that saves url to localFileName and is not done,
  // so the run that was interrupted goes on; else a new record for them.
  std::unique_ptr<TLocalDownloadinfo> FindOrCreateRecord(const std::string &url,
                                                         const std::string &localFileName);

  platform::EventLoop Loop;
  TCommandLineCredentials Credentials;
  // The slots that meet a credentials demand wait here until they are failed (nobody can be asked).
  TSiteManager Sites;
  THttpPartContext Http;
  TFtpPartContext Ftp;
  TPartDownloaderFactory Factory;
  TPingSystemFactory Pings;
  TLocalMirrorList LocalMirrors;
  TServerStats Statistics;
  TDownloaderContext DownloaderContext;
  TRecordContext RecordContext;
};

} // namespace velmora
