#pragma once

#include "app/AppEnvironment.h"
#include "app/GetEngine.h"
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
#include "store/RecordLock.h"

#include <memory>
#include <optional>
#include <string>

namespace velmora {

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
  TGetEngine engine_;
  platform::EventLoop &loop_ = engine_.Loop;
  std::unique_ptr<TLocalDownloadinfo> record_;
  std::unique_ptr<TRecordLock> lock_; // held from before the first save to the end
  std::unique_ptr<TDownloader> downloader_;
  std::unique_ptr<TCombineParts> combine_;
  platform::LoopTimer progressTimer_, timeOutTimer_;
  TTerminationSignals signals_;
  bool terminal_ = false;
  std::string lastStatus_;
  int exit_ = geFailed;
};

} // namespace velmora
