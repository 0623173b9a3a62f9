#include "app/GetSession.h"

#include "management/FileNames.h"
#include "platform/Environment.h"
#include "platform/Tick.h"
#include "shell/DownloadableUrl.h"
#include "shell/ReportError.h"
#include "store/GeneralFunctions.h"
#include "store/IndependentGeneralFunctions.h"
#include "store/RecordSettings.h"
#include "store/SettingDefinitions.h"
#include "unzip/Unzip.h"

#include <cstdio>
#include <filesystem>
#include <unistd.h>

namespace velmora {

namespace {

constexpr uint32_t kProgressInterval = 250;
constexpr uint32_t kTimeOutCheckInterval = 1000;

} // namespace

TGetSession::TGetSession(TAppEnvironment &app, const TGetOptions &options)
    : app_(app), options_(options), engine_(app, options), progressTimer_(loop_), timeOutTimer_(loop_),
      signals_(loop_, [this] { Interrupt(); }) {
  terminal_ = isatty(STDERR_FILENO) != 0;
}

TGetSession::~TGetSession() {
  combine_.reset();
  downloader_.reset();
  lock_.reset();
  progressTimer_.stop();
  timeOutTimer_.stop();
  // Part downloaders released at the end still wait in the loop.
  loop_.runOnce(0);
}

std::string TGetSession::TargetFileName() const {
  if (!options_.OutputFile.empty())
    return std::filesystem::absolute(options_.OutputFile).string();
  const std::string folder = options_.Folder.empty() ? "." : options_.Folder;
  return std::filesystem::absolute(std::filesystem::path(folder) / FileNameFromUrl(TUrl(options_.Url)))
      .string();
}

void TGetSession::Save() {
  if (const platform::FileResult saved = record_->SaveDatFile(); !saved)
    std::fprintf(stderr, "velmora-get: %s\n", saved.error.c_str());
}

void TGetSession::Say(const std::string &line) {
  if (options_.Quiet)
    return;
  if (terminal_)
    std::fprintf(stderr, "\r\033[K%s\n", line.c_str());
  else
    std::fprintf(stderr, "%s\n", line.c_str());
}

void TGetSession::ShowProgress() {
  if (!downloader_ || options_.Quiet)
    return;
  const TConstants &words = app_.Words;
  const int64_t count = downloader_->TransferCount();
  const int64_t size = record_->FileSize;
  if (!terminal_) {
    // Without a terminal a line per change of the status is enough.
    if (record_->Status != lastStatus_) {
      lastStatus_ = record_->Status;
      std::fprintf(stderr, "%s\n", lastStatus_.c_str());
    }
    return;
  }
  int running = 0;
  for (int32_t i = 0; i < downloader_->Slots.NumberOfSlots(); ++i) {
    const TPartDownloader *part = downloader_->Slots.GetSlot(i)->PartDownloader();
    running += part != nullptr && part->State == pdsDownloading ? 1 : 0;
  }
  const std::string percent = size > 0 ? std::to_string(count * 100 / size) + "%" : "";
  const std::string sizeText = size > 0 ? " of " + BytesToPresentableString(size, words) : "";
  std::fprintf(stderr, "\r\033[K%s %s %s%s  %s kB/s  %s left  %d parts", record_->Status.c_str(),
               percent.c_str(), BytesToPresentableString(count, words).c_str(), sizeText.c_str(),
               downloader_->TransferRate().c_str(), downloader_->TimeLeft().c_str(), running);
}

void TGetSession::Attach(TDownloader &downloader) {
  downloader.OnAllPartsDone = [this](TDownloader &) { OnAllPartsDone(); };
  downloader.OnDownloadError = [this](TDownloader &) { OnDownloadError(); };
  downloader.OnFileSizeRequestDone = [this](TDownloader &) { Save(); };
  downloader.OnPingedMirror = [this](TDownloader &, TFileMirror &mirror, int32_t) {
    engine_.Statistics.AddPing(mirror.Url.ServerName(), mirror.PingTime);
  };
  downloader.OnServerStat = [this](const std::string &host, int64_t rate) {
    engine_.Statistics.AddSpeed(host, rate);
  };
  downloader.OnAuthenticationRequired = [](TDownloader &, TPartDownloadSlot &slot) {
    // Nobody can be asked here: the part gives up as if the user had cancelled.
    slot.SetErrorState(fmeLoginFailed);
  };
}

void TGetSession::OnAllPartsDone() {
  downloader_->StopUpdates();
  timeOutTimer_.stop();
  record_->SetStatus(app_.Words.CombiningFiles);
  record_->StatusImage = kStatusCodeDone;
  TCombineParts::THandlers handlers;
  handlers.OnStatus = [this](const std::string &status) { record_->SetStatus(status); };
  handlers.OnMessage = [](const std::string &message) {
    std::fprintf(stderr, "velmora-get: %s\n", message.c_str());
  };
  handlers.OnFilesCombined = [this](const TCombineOutcome &outcome) { OnFilesCombined(outcome); };
  handlers.Translate = app_.Translator->AsFunction();
  combine_ = std::make_unique<TCombineParts>(
      loop_, *app_.Settings,
      TCombineParts::TRecord{record_->LocalFileName, record_->TempFileName, record_->FileSize},
      std::move(handlers));
}

void TGetSession::OnFilesCombined(const TCombineOutcome &outcome) {
  if (!outcome.Combined) {
    // The part files stay, so the same command can join them again.
    record_->SetStatus(outcome.Message.empty() ? app_.Words.CouldntConnectToHost : outcome.Message);
    record_->StatusImage = kStatusCodeError;
    Save();
    Finish(geFailed);
    return;
  }
  record_->SetStatus(app_.Words.Done);
  record_->StatusImage = kStatusCodeDone;
  Save();
  Say(app_.Words.Done + ": " + record_->LocalFileName);
  Finish(Extract() ? geOk : geFailed);
}

bool TGetSession::Extract() {
  if (options_.ExtractFolder.empty())
    return true;
  const TExtractReport report = ExtractArchive(record_->LocalFileName, options_.ExtractFolder);
  if (!report.Succeeded()) {
    std::fprintf(stderr, "velmora-get: %s\n", report.ErrorText().c_str());
    return false;
  }
  Say(std::to_string(report.Extracted) + " entries extracted into " + options_.ExtractFolder);
  return true;
}

void TGetSession::OnDownloadError() {
  Save();
  std::fprintf(stderr, "%s%s\n", terminal_ ? "\r\033[K" : "", downloader_->ErrorText.c_str());
  Finish(geFailed);
}

void TGetSession::Interrupt() {
  if (combine_) {
    // Joining is quick and leaves nothing half done; it is allowed to finish.
    return;
  }
  if (downloader_)
    downloader_->Pause();
  record_->SetStatus(app_.Words.Paused);
  record_->StatusImage = kStatusCodePaused;
  Save();
  Say(app_.Words.Paused + ": run the same command again to resume");
  Finish(geInterrupted);
}

void TGetSession::Finish(int status) {
  exit_ = status;
  progressTimer_.stop();
  timeOutTimer_.stop();
  loop_.stop();
}

int TGetSession::Run() {
  const TUrl url(options_.Url);
  if (!IsDownloadableProtocol(url.Protocol)) {
    std::fprintf(
        stderr,
        "velmora-get: cannot download %s: only http://, https:// and ftp:// addresses can be downloaded\n",
        options_.Url.c_str());
    return geUsage;
  }
  if (url.Host.empty()) {
    std::fprintf(stderr, "velmora-get: cannot download %s: the address names no host\n",
                 options_.Url.c_str());
    return geUsage;
  }
  const std::string target = TargetFileName();
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::path(target).parent_path(), error);
  record_ = engine_.FindOrCreateRecord(options_.Url, target);
  TLocalDownloadinfo &record = *record_;
  if (record.TempFileName.empty()) {
    std::fprintf(stderr, "velmora-get: no room for part files in %s\n",
                 PartialDownloadsDirectory(*app_.Settings, app_.Paths).c_str());
    return geFailed;
  }
  // Another process on the same record would write into the same part files.
  TRecordLock::TAttempt locked = TRecordLock::TryLock(record.TempFileName);
  if (locked.Outcome != TRecordLock::rlLocked) {
    std::fprintf(stderr, "velmora-get: %s\n",
                 locked.Outcome == TRecordLock::rlInUse ? app_.Words.InUseByAnotherProcess.c_str()
                                                        : locked.Error.c_str());
    return geFailed;
  }
  lock_ = std::move(locked.Lock);
  const bool resumed = record.NumOfParts != -1;
  Save();

  const TSettingsStore &settings = *app_.Settings;
  const int32_t parts = options_.Parts ? ClampSetting(setting::SplitParts, *options_.Parts)
                                       : ReadSetting(settings, setting::SplitParts);
  downloader_ = std::make_unique<TDownloader>(engine_.DownloaderContext, record, parts,
                                              ReadSetting(settings, setting::TryLocalMirrorlist), true);
  Attach(*downloader_);
  for (const std::string &mirror : options_.Mirrors)
    downloader_->AddMirror(mirror);
  if (resumed)
    Say("Resuming " + options_.Url + " from its part files");
  downloader_->StartDownload();
  if (!combine_) { // already complete: only the join was left
    progressTimer_.start(kProgressInterval, true, [this] { ShowProgress(); });
    timeOutTimer_.start(kTimeOutCheckInterval, true, [this] {
      if (record_->StatusImage != kStatusCodeError)
        downloader_->CheckSlotsForTimeOut(platform::GetTickCount());
    });
  }
  loop_.run();
  if (terminal_ && !options_.Quiet)
    std::fprintf(stderr, "\r\033[K");
  return exit_;
}

} // namespace velmora
