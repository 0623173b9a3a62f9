#pragma once

#include "app/AppEnvironment.h"
#include "app/GetOptions.h"
#include "app/TerminationSignals.h"
#include "engine/CombineParts.h"
#include "engine/Downloader.h"
#include "engine/HttpPartDownloader.h"
#include "engine/PartDownloaderFactory.h"
#include "engine/SiteCredentials.h"
#include "mirrors/GetMirrorList.h"
#include "mirrors/MirrorPing.h"
#include "mirrors/ServerStats.h"
#include "platform/EventLoop.h"
#include "store/LocalDownloadInfo.h"

#include <memory>
#include <optional>
#include <string>

namespace velmora {

// The system's environment, with the command line's proxy (when given) in place of the system's.
platform::Environment ProxyEnvironment(const std::string &proxy);

// Exit statuses of velmora-get.
enum TGetExit : int { geOk = 0, geFailed = 1, geUsage = 2, geInterrupted = 130 };

// The credentials of the command line, else those of the address.
class TCommandLineCredentials : public ISiteCredentials {
public:
  TCommandLineCredentials(std::optional<std::string> user, std::optional<std::string> password)
      : user_(std::move(user)), password_(std::move(password)) {}
  void SetCredentials(const TUrl &, const std::string &, const std::string &, const std::string &) override {}
  std::string GetUser(const TUrl &Url, const std::string &) override { return user_.value_or(Url.User); }
  std::string GetPassword(const TUrl &Url, const std::string &) override {
    return password_.value_or(Url.Password);
  }

private:
  std::optional<std::string> user_, password_;
};

// One download from the command line, on the same engine, settings and record files as the
// program: a second run of the same command resumes from the part files of the first.
class TGetSession {
public:
  TGetSession(TAppEnvironment &app, const TGetOptions &options);
  ~TGetSession();
  TGetSession(const TGetSession &) = delete;
  TGetSession &operator=(const TGetSession &) = delete;

  // Runs the download to its end; the exit status.
  int Run();

private:
  std::string TargetFileName() const;
  TLocalDownloadinfo &FindOrCreateRecord(const std::string &localFileName);
  void Attach(TDownloader &downloader);
  void OnAllPartsDone();
  void OnFilesCombined(const TCombineOutcome &outcome);
  void OnDownloadError();
  void Interrupt();
  void Finish(int status);
  void Save();
  void Say(const std::string &line);
  void ShowProgress();
  bool Extract();

  TAppEnvironment &app_;
  const TGetOptions &options_;
  platform::EventLoop loop_;
  TCommandLineCredentials credentials_;
  THttpPartContext http_;
  TFtpPartContext ftp_;
  TPartDownloaderFactory factory_;
  TPingSystemFactory pings_;
  TLocalMirrorList localMirrors_;
  TServerStats statistics_;
  TDownloaderContext downloaderContext_;
  TRecordContext recordContext_;
  std::unique_ptr<TLocalDownloadinfo> record_;
  std::unique_ptr<TDownloader> downloader_;
  std::unique_ptr<TCombineParts> combine_;
  platform::LoopTimer progressTimer_, timeOutTimer_;
  TTerminationSignals signals_;
  bool terminal_ = false;
  std::string lastStatus_;
  int exit_ = geFailed;
};

} // namespace velmora
