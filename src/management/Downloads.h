#pragma once

#include "engine/Downloader.h"
#include "management/AuthFormPresenter.h"
#include "management/DownloadForms.h"
#include "management/DownloadQueue.h"
#include "management/DownloadSystemUi.h"
#include "management/FinalActions.h"
#include "management/ModemConnection.h"
#include "management/RecordList.h"
#include "management/RetryTimers.h"
#include "management/Shutdown.h"
#include "mirrors/ServerStats.h"
#include "platform/EventLoop.h"
#include "shell/Constants.h"
#include "store/GeneralFunctions.h"
#include "store/LocalDownloadInfo.h"
#include "store/RecordLock.h"
#include "store/Registry.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// What the download system works with; everything outlives it.
struct TDownloadSystemContext {
  platform::EventLoop &Loop;
  const TSettingsStore &Settings;
  const TConstants &Words;
  const TRecordContext &Records; // its categories and partial-downloads folder are the system's too
  const TDownloaderContext &Downloaders;
  IDownloadSystemUi &Ui;
  std::string DefaultDownloadDirectory; // the default of that setting: the user's download folder
  TServerStats *Statistics = nullptr;   // none: pings and rates are not remembered
  IDialUpConnection *DialUp = nullptr;  // none: nothing to hang up
  ISystemShutdown *Shutdown = nullptr;  // none: the machine is never switched off
  std::function<std::chrono::year_month_day()> Today = LocalToday; // for date folders
  std::function<uint32_t()> Tick = {}; // the tick counter of the time-out check; GetTickCount when empty
  // Fixed for this run in place of their settings (velmora-get's command line); unset: the setting.
  std::optional<int32_t> MaxSimultaneousDownloads = std::nullopt;
  std::optional<int32_t> SplitParts = std::nullopt;
};

// The owner of every download record and every downloader: it loads the records at start-up, starts
// new and resumed downloads or queues them (at most MaxSimultaneousDownloads at a time), reacts to
// every event of every downloader, retries failed downloads after a countdown, joins the parts of
// finished ones, and after the last one hangs up, shuts down or closes as configured. Everything it
// shows goes through IDownloadSystemUi. Loop thread only.
//
// It checks every active download for silent parts once a second by itself (the work of the main
// window's 1 s timer). Downloaders and their windows are released to the next turn of the loop,
// never destroyed inside their own events; a record that leaves the list is kept until no
// downloader refers to it any more.
class TDownloadSystem : public IAuthAnswers {
public:
  explicit TDownloadSystem(TDownloadSystemContext context);
  ~TDownloadSystem() override;
  TDownloadSystem(const TDownloadSystem &) = delete;
  TDownloadSystem &operator=(const TDownloadSystem &) = delete;

  // Loads every record file of the partial-downloads folder. Records left active by the last run
  // come back "Paused"; nothing starts by itself.
  void UpdateGridInfo();

  // A new download: the system takes the record over. Returns it.
  TLocalDownloadinfo &AddDownload(std::unique_ptr<TLocalDownloadinfo> record);
  // A record of the list starts again (resumed, scheduled, queued, downloaded afresh).
  void AddDownload(TLocalDownloadinfo &record);
  // Starts the download now, or queues it when the places are taken.
  void TryToStartDownload(TDownloader &Downloader);
  // The Save As choice's "later": the record (with its local file name set) waits for the scheduler.
  void ScheduleNewDownload(TDownloader &Downloader);

  // Active downloads that take a place: those joining their parts do not, those waiting to retry do.
  int32_t NumberOfDownloading() const;
  // Starts queued records, in list order, while places are free.
  void DownloadNextInQueue();
  void CheckDownloadsForTimeOut();

  // Whether an unfinished record has exactly this local file name.
  bool FileNameInUse(const std::string &strFileName) const;
  // The bytes of the part files of that base name on disk.
  static int64_t BytesDownloaded(const std::string &TempFileName);
  // The record files of the partial-downloads folder, sorted by name.
  std::vector<std::string> GetDatFileNames() const;
  TDownloader *AssociatedDownloader(const TLocalDownloadinfo *record) const;
  // Whether another process works on the record now: it is listed, but neither rewritten nor started.
  bool InUseByAnotherProcess(const TLocalDownloadinfo &record) const;
  bool IsJoining(const TDownloader &Downloader) const;

  void ShowDownloadForm(TDownloader &Downloader);
  void HideDownloadForm(TDownloader &Downloader);
  // A window of the downloader was closed by the user; an entry that is no longer needed goes.
  void FormClosed(TDownloader &Downloader);
  void AllowFree(TDownloadForms &entry);

  // The answers of the authentication dialog.
  void SlotAuthenticated(TDownloader &Downloader, TPartDownloadSlot &Slot) override;
  void AbortSlotAuthenticated(TDownloader &Downloader, TPartDownloadSlot &Slot) override;

  // The commands on records of the list. A download that is joining its parts is left alone by
  // all of them until the join has ended.
  // Deletes the records with their files (running ones are aborted); with warning, asks first when
  // one of them is not done.
  void DeleteItems(const TLDIList &records, bool warning);
  // Pauses (or marks "Scheduled") the records; asks first when a running one cannot resume.
  void PauseDownloads(const TLDIList &records);
  void ScheduleDownloads(const TLDIList &records);
  // Starts the records again: a pending retry at once, a stopped download through AddDownload.
  void ResumeDownloads(const TLDIList &records);

  // The scheduler's window opened: every "Scheduled" record starts (or queues).
  void DoOnSchedulerTime();
  // The scheduler's window closed: every download active now is paused and marked "Scheduled".
  void DoOnSchedulerTimeOut();

  // The last active download has finished or given up: hang up, shut down or close as configured.
  void OnAllDownloadsComplete();
  // One second of a record's retry countdown.
  void OnRetryTimer(TLocalDownloadinfo &record);

  // Every record, in load order and then adding order.
  TLDIList AllRecords() const;
  const std::vector<TDownloader *> &ActiveDownloaders() const { return queue_.Active(); }

  // The menu's "Shutdown After Downloading": never stored.
  bool ShutdownAfterDownloading = false;
  // Hang up after the last download whatever the settings say (velmora-get's --hang-up).
  bool HangUpAfterDownloading = false;
  // Runs when the final actions of OnAllDownloadsComplete are over (a hang-up waited for).
  std::function<void()> OnFinalActionsDone;

private:
  // The downloader's events.
  void OnFileSizeRequestDone(TDownloader &Downloader);
  void OnAuthenticationRequired(TDownloader &Downloader, TPartDownloadSlot &Slot);
  void OnStartDownload(TDownloader &Downloader);
  void OnDownloadError(TDownloader &Downloader);
  void OnUpdate(TDownloader &Downloader);
  void OnAllPartsDone(TDownloader &Downloader);
  void OnPingedMirror(TDownloader &Downloader, TFileMirror &FileMirror, int32_t index);
  void OnServerStat(const std::string &host, int64_t rate);
  void OnAbort(TDownloader &Downloader);
  void OnPause(TDownloader &Downloader);
  void OnResume(TDownloader &Downloader);
  void OnSlotChange(TDownloader &Downloader, TPartDownloadSlot &Slot);
  void OnSlotDelete(TDownloader &Downloader, TPartDownloadSlot &Slot);
  void OnFilesCombined(TDownloader &Downloader, const TCombineOutcome &outcome);

  void BindEvents(TDownloader &Downloader);
  // mayAsk false: the default folder when nothing else decides, whatever ShowSaveDialog says.
  void DecideLocalFileName(TLocalDownloadinfo &record, bool mayAsk = true);
  void StartJoining(TDownloadForms &entry);
  void GiveUp(TDownloader &Downloader);
  void CompleteDownload(TDownloader &Downloader);
  void StopDownloads(const TLDIList &records, const std::string &status, TStatusCode code,
                     const std::string &question);
  void RemoveFromStringGrid(TDownloader &Downloader);
  void ReleaseIfUnused(TDownloadForms &entry);
  void CloseDownloadForm(TDownloadForms &entry);
  void FreeRetryTimer(TLocalDownloadinfo &record);
  void SaveRecord(const TLocalDownloadinfo &record, std::string_view operation) const;
  void SetStatus(TLocalDownloadinfo &record, const std::string &status, TStatusCode code);
  // Takes the record out of the list (or out of the records not yet listed) and frees it once no
  // downloader refers to it.
  void DisposeRecord(TLocalDownloadinfo &record);
  // Takes the record's lock, or keeps the one held; false (the user told why) when it cannot.
  bool LockRecord(TLocalDownloadinfo &record);
  void ScheduleRelease();
  void ReleaseEntries();
  std::string DefaultDownloadDirectory() const;
  std::string Translate(std::string_view english) const;

  TDownloadSystemContext context_;
  TRecordList records_;
  TRetryTimers retryTimers_;
  TDownloadQueue queue_;
  TFinalActions finalActions_;
  // The record locks this process holds: while a downloader refers to the record.
  std::map<const TLocalDownloadinfo *, std::unique_ptr<TRecordLock>> locks_;
  TDownloadFormsList DownloadFormsList;
  platform::LoopTimer TimeOutTimer;
  bool releasePosted_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

} // namespace velmora
