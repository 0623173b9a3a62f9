#include "app/GetQueueSession.h"

#include "management/FileNames.h"
#include "platform/PointToPointLinks.h"
#include "platform/PowerOff.h"
#include "shell/DownloadableUrl.h"
#include "store/IndependentGeneralFunctions.h"
#include "store/RecordSettings.h"

#include <filesystem>
#include <unistd.h>

namespace velmora {

namespace {

constexpr uint32_t kProgressInterval = 250;

// name(n).ext for the n-th download of the same name in one command, so each has its own file and a
// rerun of the command finds the same names again.
std::string Numbered(const std::string &path, int n) {
  const std::filesystem::path file(path);
  return (file.parent_path() /
          (file.stem().string() + "(" + std::to_string(n) + ")" + file.extension().string()))
      .string();
}

} // namespace

TGetQueueSession::TGetQueueSession(TAppEnvironment &app, const TGetOptions &options)
    : app_(app), options_(options), engine_(app, options),
      ui_(app.Words, stderr, isatty(STDERR_FILENO) != 0, options.Quiet), progressTimer_(loop_),
      signals_(loop_, [this] { Interrupt(); }) {
  if (options_.HangUp)
    modem_ = std::make_unique<TModemConnection>(loop_, std::make_shared<platform::LinuxPointToPointLinks>());
  if (options_.Shutdown)
    shutdown_ = std::make_unique<TWinReboot>(loop_, std::make_shared<platform::SystemdPower>());
  TDownloadSystemContext context{loop_,
                                 *app.Settings,
                                 app.Words,
                                 engine_.RecordContext,
                                 engine_.DownloaderContext,
                                 ui_,
                                 app.Paths.defaultSaveFolder,
                                 &engine_.Statistics,
                                 modem_.get(),
                                 shutdown_.get()};
  context.MaxSimultaneousDownloads = options_.Jobs;
  context.SplitParts = options_.Parts;
  system_ = std::make_unique<TDownloadSystem>(std::move(context));
  system_->ShutdownAfterDownloading = options_.Shutdown;
  system_->HangUpAfterDownloading = options_.HangUp;
  system_->OnFinalActionsDone = [this] {
    finalActionsDone_ = true;
    CheckEnd();
  };
  ui_.OnExitProgram = [this] { CheckEnd(); };
  // Nobody can be asked here: the part gives up as if the user had cancelled the dialog.
  ui_.OnAuthenticationRequired = [this](TDownloader &downloader, TPartDownloadSlot &slot) {
    system_->AbortSlotAuthenticated(downloader, slot);
  };
}

TGetQueueSession::~TGetQueueSession() {
  system_.reset();
  shutdown_.reset();
  modem_.reset();
  progressTimer_.stop();
  // What was released at the end still waits in the loop.
  loop_.runOnce(0);
}

std::vector<std::string> TGetQueueSession::TargetFileNames() const {
  std::vector<std::string> targets;
  std::set<std::string> taken;
  for (const std::string &url : options_.Urls) {
    std::string target;
    if (!options_.OutputFile.empty()) {
      target = std::filesystem::absolute(options_.OutputFile).string();
    } else {
      const std::string folder = options_.Folder.empty() ? "." : options_.Folder;
      target = std::filesystem::absolute(std::filesystem::path(folder) / FileNameFromUrl(TUrl(url))).string();
    }
    const std::string first = target;
    for (int n = 1; taken.contains(target); ++n)
      target = Numbered(first, n);
    taken.insert(target);
    targets.push_back(target);
  }
  return targets;
}

TLocalDownloadinfo *TGetQueueSession::Record(const std::string &tempFileName) const {
  for (TLocalDownloadinfo *record : system_->AllRecords())
    if (record->TempFileName == tempFileName)
      return record;
  return nullptr;
}

bool TGetQueueSession::AllEnded() const {
  if (!system_->ActiveDownloaders().empty())
    return false;
  for (const std::string &name : tempFileNames_)
    if (const TLocalDownloadinfo *record = Record(name);
        record != nullptr && record->StatusState == TStatusState::Queued)
      return false;
  return true;
}

void TGetQueueSession::CheckEnd() {
  if (!AllEnded())
    return;
  // After the last download the hang-up and the shutdown come first, when asked for.
  if (!interrupted_ && (options_.HangUp || options_.Shutdown) && !finalActionsDone_)
    return;
  bool failed = false;
  for (const std::string &name : tempFileNames_)
    if (const TLocalDownloadinfo *record = Record(name))
      failed = failed || !record->IsDone();
  Finish(interrupted_ ? geInterrupted : failed ? geFailed : geOk);
}

void TGetQueueSession::Interrupt() {
  interrupted_ = true;
  // An interrupted run leaves the line and the machine as they are.
  system_->ShutdownAfterDownloading = false;
  system_->HangUpAfterDownloading = false;
  // The queue first, or the pauses below would let its records start.
  for (const std::string &name : tempFileNames_)
    if (TLocalDownloadinfo *record = Record(name);
        record != nullptr && record->StatusState == TStatusState::Queued) {
      record->SetStatus(app_.Words.Paused);
      record->StatusImage = kStatusCodePaused;
      if (const platform::FileResult saved = record->SaveDatFile(); !saved)
        ui_.Say("velmora-get: " + saved.error);
    }
  // Joining is quick and leaves nothing half done: those that join are let finish.
  const std::vector<TDownloader *> active = system_->ActiveDownloaders();
  for (TDownloader *downloader : active)
    if (!system_->IsJoining(*downloader))
      downloader->Pause();
  ui_.Say(app_.Words.Paused + ": run the same command again to resume");
  CheckEnd();
}

void TGetQueueSession::Finish(int status) {
  exit_ = status;
  progressTimer_.stop();
  loop_.stop();
}

int TGetQueueSession::Run() {
  for (const std::string &address : options_.Urls) {
    const TUrl url(address);
    if (!IsDownloadableProtocol(url.Protocol)) {
      ui_.Say("velmora-get: cannot download " + address +
              ": only http://, https:// and ftp:// addresses can be downloaded");
      return geUsage;
    }
    if (url.Host.empty()) {
      ui_.Say("velmora-get: cannot download " + address + ": the address names no host");
      return geUsage;
    }
  }
  const std::vector<std::string> targets = TargetFileNames();
  for (std::size_t i = 0; i < targets.size(); ++i) {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(targets[i]).parent_path(), error);
    tempFileNames_.push_back(
        system_->AddDownload(engine_.FindOrCreateRecord(options_.Urls[i], targets[i])).TempFileName);
  }
  progressTimer_.start(kProgressInterval, true, [this] {
    ui_.ShowProgress(system_->ActiveDownloaders());
    CheckEnd();
  });
  CheckEnd();
  if (!loop_.stopped())
    loop_.run();
  ui_.Finish();
  return exit_;
}

} // namespace velmora
