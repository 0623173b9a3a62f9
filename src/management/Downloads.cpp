#include "management/Downloads.h"

#include "platform/Tick.h"
#include "shell/ReportError.h"
#include "store/SettingDefinitions.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace velmora {

namespace {

constexpr uint32_t kTimeOutCheckInterval = 1000;

} // namespace

TDownloadSystem::TDownloadSystem(TDownloadSystemContext context)
    : context_(std::move(context)), retryTimers_(context_.Loop),
      queue_(context_.Settings, context_.MaxSimultaneousDownloads,
             [this](const TDownloader &downloader) { return IsJoining(downloader); }),
      finalActions_({context_.Settings, context_.Ui, context_.DialUp, context_.Shutdown}),
      TimeOutTimer(context_.Loop) {
  TimeOutTimer.start(kTimeOutCheckInterval, true, [this] { CheckDownloadsForTimeOut(); });
}

TDownloadSystem::~TDownloadSystem() {
  alive_.reset();
  TimeOutTimer.stop();
  retryTimers_.Clear();
  queue_.Clear();
  // Windows, joins and downloaders go before the records they refer to.
  DownloadFormsList.Clear();
  locks_.clear();
  records_.Clear();
}

std::string TDownloadSystem::Translate(std::string_view english) const {
  return context_.Records.Translate ? context_.Records.Translate(english) : std::string(english);
}

std::string TDownloadSystem::DefaultDownloadDirectory() const {
  return ReadSetting(context_.Settings, setting::DefaultDownloadDirectory, context_.DefaultDownloadDirectory);
}

void TDownloadSystem::SaveRecord(const TLocalDownloadinfo &record, std::string_view operation) const {
  const platform::FileResult saved = record.SaveDatFile();
  if (!saved)
    ReportError(operation, saved.error);
}

void TDownloadSystem::SetStatus(TLocalDownloadinfo &record, const std::string &status, TStatusCode code) {
  record.SetStatus(status);
  record.StatusImage = code;
}

TLDIList TDownloadSystem::AllRecords() const { return records_.All(); }

void TDownloadSystem::DisposeRecord(TLocalDownloadinfo &record) {
  FreeRetryTimer(record);
  std::unique_ptr<TLocalDownloadinfo> owned = records_.Take(record);
  if (!owned)
    return;
  context_.Ui.UpdateRow(record);
  if (DownloadFormsList.RefersTo(&record))
    records_.Retire(std::move(owned));
  else
    locks_.erase(&record);
}

bool TDownloadSystem::InUseByAnotherProcess(const TLocalDownloadinfo &record) const {
  return !locks_.contains(&record) && !record.TempFileName.empty() && TRecordLock::InUse(record.TempFileName);
}

bool TDownloadSystem::LockRecord(TLocalDownloadinfo &record) {
  if (locks_.contains(&record))
    return true;
  TRecordLock::TAttempt attempt = TRecordLock::TryLock(record.TempFileName);
  if (attempt.Outcome == TRecordLock::rlLocked) {
    locks_[&record] = std::move(attempt.Lock);
    return true;
  }
  if (attempt.Outcome == TRecordLock::rlFailed)
    ReportError("procedure TDownloadSystem.LockRecord", attempt.Error);
  context_.Ui.ShowMessage(attempt.Outcome == TRecordLock::rlInUse ? context_.Words.InUseByAnotherProcess
                                                                  : attempt.Error);
  return false;
}

TDownloader *TDownloadSystem::AssociatedDownloader(const TLocalDownloadinfo *record) const {
  return queue_.Find(record);
}

bool TDownloadSystem::IsJoining(const TDownloader &Downloader) const {
  const TDownloadForms *entry = DownloadFormsList.GetDownloadForms(&Downloader);
  return entry != nullptr && entry->Joining != nullptr;
}

int32_t TDownloadSystem::NumberOfDownloading() const { return queue_.Downloading(); }

void TDownloadSystem::AllowFree(TDownloadForms &entry) {
  entry.Released = true;
  if (entry.Downloader)
    queue_.Deactivate(*entry.Downloader);
  ScheduleRelease();
}

void TDownloadSystem::ReleaseIfUnused(TDownloadForms &entry) {
  if (entry.WindowOpen() || entry.Joining || (entry.Downloader && queue_.IsActive(*entry.Downloader)))
    return;
  AllowFree(entry);
}

void TDownloadSystem::ScheduleRelease() {
  if (releasePosted_)
    return;
  releasePosted_ = true;
  context_.Loop.post([this, alive = std::weak_ptr<bool>(alive_)] {
    if (!alive.expired())
      ReleaseEntries();
  });
}

void TDownloadSystem::ReleaseEntries() {
  GuardedVoid("procedure TDownloadSystem.OnReleaseTimer(Sender : TObject)", [&] {
    releasePosted_ = false;
    DownloadFormsList.TakeReleased().clear();
    std::erase_if(locks_, [this](const auto &lock) { return !DownloadFormsList.RefersTo(lock.first); });
    records_.Release([this](const TLocalDownloadinfo *record) { return DownloadFormsList.RefersTo(record); });
  });
}

void TDownloadSystem::FreeRetryTimer(TLocalDownloadinfo &record) { retryTimers_.Free(record); }

TLocalDownloadinfo &TDownloadSystem::AddDownload(std::unique_ptr<TLocalDownloadinfo> record) {
  TLocalDownloadinfo &added = records_.AddUnlisted(std::move(record));
  AddDownload(added);
  return added;
}

void TDownloadSystem::AddDownload(TLocalDownloadinfo &record) {
  GuardedVoid("procedure TDownloadSystem.AddDownload(ldi : TLocalDownloadinfo)", [&] {
    if (record.Damaged()) {
      ReportError("procedure TDownloadSystem.AddDownload(ldi : TLocalDownloadinfo)", record.LoadError);
      return;
    }
    // A second downloader would write into the same part files.
    if (AssociatedDownloader(&record) != nullptr)
      return;
    if (record.TempFileName.empty())
      record.TempFileName = GetTempFileName(context_.Records.PartialDownloadsFolder());
    if (!LockRecord(record))
      return;
    SaveRecord(record, "procedure TDownloadSystem.AddDownload(ldi : TLocalDownloadinfo)");

    const TSettingsStore &settings = context_.Settings;
    const bool startNow = queue_.PlaceFree();
    auto entry = std::make_unique<TDownloadForms>();
    entry->Downloader = std::make_unique<TDownloader>(
        context_.Downloaders, record,
        context_.SplitParts ? ClampSetting(setting::SplitParts, *context_.SplitParts)
                            : ReadSetting(settings, setting::SplitParts),
        ReadSetting(settings, setting::TryLocalMirrorlist), startNow);
    TDownloader &downloader = *entry->Downloader;
    queue_.Activate(downloader);
    BindEvents(downloader);
    TDownloadForms &added = DownloadFormsList.Add(std::move(entry));

    if (record.LocalFileName.empty())
      DecideLocalFileName(record);
    if (!record.LocalFileName.empty()) {
      TryToStartDownload(downloader);
      return;
    }
    added.FileInfoForm = context_.Ui.CreateFileInfoWindow(downloader);
    if (added.FileInfoForm) {
      added.FileInfoForm->ShowSize(context_.Words.ContactingHost);
      return;
    }
    // Nobody can be asked: the file goes where it would go without the Save As choice.
    DecideLocalFileName(record, false);
    TryToStartDownload(downloader);
  });
}

void TDownloadSystem::TryToStartDownload(TDownloader &Downloader) {
  GuardedVoid("procedure TDownloadSystem.TryToStartDownload(Downloader : TDownloader)", [&] {
    TLocalDownloadinfo &record = Downloader.Info;
    SaveRecord(record, "procedure TDownloadSystem.TryToStartDownload(Downloader : TDownloader)");
    records_.List(record);
    TDownloadForms *entry = DownloadFormsList.GetDownloadForms(&Downloader);
    if (Downloader.Paused) {
      // It waited for the Save As choice as a queued download and has stopped after learning the
      // size; a paused downloader cannot go on, so a fresh one takes over from the part files.
      queue_.Deactivate(Downloader);
      if (entry != nullptr)
        AllowFree(*entry);
      AddDownload(record);
      return;
    }
    if (queue_.Overfull()) {
      queue_.Deactivate(Downloader);
      Downloader.OnPause = nullptr;
      Downloader.Pause();
      SetStatus(record, context_.Words.Queued, kStatusCodeQueued);
      SaveRecord(record, "procedure TDownloadSystem.TryToStartDownload(Downloader : TDownloader)");
      context_.Ui.UpdateRow(record);
      // The queue holds the record; the next start makes a fresh downloader for it.
      if (entry != nullptr)
        ReleaseIfUnused(*entry);
      return;
    }
    Downloader.StartDownload();
  });
}

void TDownloadSystem::DownloadNextInQueue() {
  GuardedVoid("procedure TDownloadSystem.DownloadNextInQueue", [&] {
    for (TLocalDownloadinfo *record : AllRecords())
      if (records_.Listed(*record) && TDownloadQueue::Waits(*record) && queue_.PlaceFree() &&
          !InUseByAnotherProcess(*record))
        AddDownload(*record);
  });
}

void TDownloadSystem::CheckDownloadsForTimeOut() {
  GuardedVoid("procedure TDownloadSystem.CheckDownloadsForTimeOut", [&] {
    const uint32_t tick = context_.Tick ? context_.Tick() : platform::GetTickCount();
    // A time-out may end a download and change the list; the downloaders themselves stay alive.
    const std::vector<TDownloader *> active = queue_.Active();
    for (TDownloader *downloader : active)
      if (queue_.IsActive(*downloader) && downloader->Info.StatusImage != kStatusCodeError)
        downloader->CheckSlotsForTimeOut(tick);
  });
}

bool TDownloadSystem::FileNameInUse(const std::string &strFileName) const {
  return Guarded("function TDownloadSystem.FileNameInUse(strFileName : string) : boolean", [&] {
    const TLDIList records = records_.All();
    return std::any_of(records.begin(), records.end(), [&](const TLocalDownloadinfo *record) {
      return record->LocalFileName == strFileName && !record->IsDone();
    });
  });
}

int64_t TDownloadSystem::BytesDownloaded(const std::string &TempFileName) {
  return Guarded("function TDownloadSystem.BytesDownloaded(TempFileName : string) : integer", [&] {
    const std::filesystem::path base(TempFileName);
    const std::string prefix = base.filename().string() + ".";
    int64_t total = 0;
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(base.parent_path(), error)) {
      const std::string name = entry.path().filename().string();
      if (!name.starts_with(prefix) || name.find(".dat") != std::string::npos)
        continue;
      std::error_code sizeError;
      if (entry.is_regular_file(sizeError) && !entry.is_symlink(sizeError))
        total += static_cast<int64_t>(entry.file_size(sizeError));
    }
    return total;
  });
}

std::vector<std::string> TDownloadSystem::GetDatFileNames() const {
  return Guarded("function TDownloadSystem.GetDatFileNames : TStringList", [&] {
    std::vector<std::string> names;
    std::error_code error;
    const std::string folder = context_.Records.PartialDownloadsFolder();
    for (const auto &entry : std::filesystem::directory_iterator(folder, error)) {
      std::error_code typeError;
      if (entry.path().extension() == ".dat" && entry.is_regular_file(typeError))
        names.push_back(entry.path().string());
    }
    // Folder listings have no order of their own.
    std::sort(names.begin(), names.end());
    return names;
  });
}

void TDownloadSystem::ShowDownloadForm(TDownloader &Downloader) {
  GuardedVoid("procedure TDownloadSystem.ShowDownloadForm(Downloader : TDownloader)", [&] {
    TDownloadForms *entry = DownloadFormsList.GetDownloadForms(&Downloader);
    if (entry == nullptr)
      return;
    if (!entry->DownloadForm)
      entry->DownloadForm = context_.Ui.CreateDownloadWindow(Downloader);
    if (!entry->DownloadForm)
      return;
    entry->DownloadForm->Refresh();
    entry->DownloadForm->Show();
  });
}

void TDownloadSystem::HideDownloadForm(TDownloader &Downloader) {
  GuardedVoid("procedure TDownloadSystem.HideDownloadForm(Downloader : TDownloader)", [&] {
    if (TDownloadForms *entry = DownloadFormsList.GetDownloadForms(&Downloader); entry && entry->DownloadForm)
      entry->DownloadForm->Hide();
  });
}

void TDownloadSystem::CloseDownloadForm(TDownloadForms &entry) {
  if (entry.DownloadForm)
    entry.DownloadForm->Hide();
}

void TDownloadSystem::FormClosed(TDownloader &Downloader) {
  GuardedVoid("procedure TDownloadSystem.FormClosed(Downloader : TDownloader)", [&] {
    if (TDownloadForms *entry = DownloadFormsList.GetDownloadForms(&Downloader))
      ReleaseIfUnused(*entry);
  });
}

} // namespace velmora
