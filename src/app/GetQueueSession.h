#pragma once

#include "app/AppEnvironment.h"
#include "app/GetEngine.h"
#include "app/GetOptions.h"
#include "app/TerminalUi.h"
#include "app/TerminationSignals.h"
#include "engine/Downloader.h"
#include "engine/PartDownloaderFactory.h"
#include "management/Downloads.h"
#include "management/ModemConnection.h"
#include "management/Shutdown.h"
#include "mirrors/GetMirrorList.h"
#include "mirrors/MirrorPing.h"
#include "mirrors/ServerStats.h"
#include "platform/EventLoop.h"
#include "store/LocalDownloadInfo.h"

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace velmora {

// Several downloads from the command line through the download system: they wait in its queue
// (-j places at a time), failed ones are retried after the countdown, and the run ends when every
// one is done or has given up; then the dial-up links are hung up or the machine is switched off
// when asked. Like a single download, a second run of the same command resumes from the part files.
class TGetQueueSession {
public:
  TGetQueueSession(TAppEnvironment &app, const TGetOptions &options);
  ~TGetQueueSession();
  TGetQueueSession(const TGetQueueSession &) = delete;
  TGetQueueSession &operator=(const TGetQueueSession &) = delete;

  // Runs every download to its end; the exit status.
  int Run();

private:
  std::vector<std::string> TargetFileNames() const;
  // Our record of that name in the list; nullptr once a finished one has left it.
  TLocalDownloadinfo *Record(const std::string &tempFileName) const;
  bool AllEnded() const;
  void CheckEnd();
  void Interrupt();
  void Finish(int status);

  TAppEnvironment &app_;
  const TGetOptions &options_;
  TGetEngine engine_;
  platform::EventLoop &loop_ = engine_.Loop;
  TTerminalUi ui_;
  std::unique_ptr<TModemConnection> modem_;
  std::unique_ptr<TWinReboot> shutdown_;
  std::unique_ptr<TDownloadSystem> system_;
  std::vector<std::string> tempFileNames_; // of our records, which the download system owns
  platform::LoopTimer progressTimer_;
  TTerminationSignals signals_;
  bool interrupted_ = false;
  bool finalActionsDone_ = false;
  int exit_ = geFailed;
};

} // namespace velmora
