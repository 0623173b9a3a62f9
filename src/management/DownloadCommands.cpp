#include "management/Downloads.h"

#include "shell/ReportError.h"

#include <algorithm>

namespace velmora {

void TDownloadSystem::ScheduleNewDownload(TDownloader &Downloader) {
  GuardedVoid("procedure TForm_DownloadFileInfo.btnDownloadLaterClick(Sender: TObject)", [&] {
    TLocalDownloadinfo &record = Downloader.Info;
    const TConstants &words = context_.Words;
    SetStatus(record, words.Scheduled, kStatusCodeScheduled);
    Downloader.Pause();
    SetStatus(record, words.Scheduled, kStatusCodeScheduled);
    SaveRecord(record, "procedure TForm_DownloadFileInfo.btnDownloadLaterClick(Sender: TObject)");
    records_.List(record);
    context_.Ui.UpdateRow(record);
  });
}

void TDownloadSystem::DeleteItems(const TLDIList &records, bool warning) {
  GuardedVoid("procedure TForm_Main.DeleteItems(LDIList : TLDIList; Warning : boolean)", [&] {
    // A download that is joining its parts is refused until its join has ended.
    TLDIList deleted;
    for (TLocalDownloadinfo *record : records) {
      const TDownloader *downloader = AssociatedDownloader(record);
      if ((downloader == nullptr || !IsJoining(*downloader)) && !InUseByAnotherProcess(*record))
        deleted.Add(record);
    }
    const bool unfinished = std::any_of(deleted.begin(), deleted.end(),
                                        [](const TLocalDownloadinfo *record) { return !record->IsDone(); });
    if (warning && unfinished &&
        !context_.Ui.AskYesNo(Translate("One or more of the files are not downloaded. Delete anyway?")))
      return;
    std::vector<TDownloader *> running;
    for (TLocalDownloadinfo *record : deleted) {
      if (TDownloader *downloader = AssociatedDownloader(record)) {
        // Its abort deletes the files once the downloader has let go of them.
        running.push_back(downloader);
      } else if (LockRecord(*record)) {
        // The lock goes with the record, and its file with the record file.
        record->DeleteDatFile();
        record->DeletePartFiles();
      } else {
        continue; // another process took it in the meantime
      }
      DisposeRecord(*record);
    }
    for (TDownloader *downloader : running)
      downloader->Abort();
  });
}

void TDownloadSystem::StopDownloads(const TLDIList &records, const std::string &status, TStatusCode code,
                                    const std::string &question) {
  TLDIList stopped;
  for (TLocalDownloadinfo *record : records) {
    const TDownloader *downloader = AssociatedDownloader(record);
    if ((downloader == nullptr || !IsJoining(*downloader)) && !InUseByAnotherProcess(*record))
      stopped.Add(record);
  }
  const bool cannotResume =
      std::any_of(stopped.begin(), stopped.end(), [this](const TLocalDownloadinfo *record) {
        const TDownloader *downloader = AssociatedDownloader(record);
        return downloader != nullptr && downloader->ResumeSupported == rsNo;
      });
  if (cannotResume && !context_.Ui.AskYesNo(question))
    return;
  for (TLocalDownloadinfo *record : stopped) {
    if (TDownloader *downloader = AssociatedDownloader(record))
      downloader->Pause();
    if (!record->IsDone()) {
      SetStatus(*record, status, code);
      SaveRecord(*record, "procedure TForm_Main.SpeedButton_PauseClick(Sender: TObject)");
      context_.Ui.UpdateRow(*record);
    }
  }
}

void TDownloadSystem::PauseDownloads(const TLDIList &records) {
  GuardedVoid("procedure TForm_Main.SpeedButton_PauseClick(Sender: TObject)", [&] {
    StopDownloads(records, context_.Words.Paused, kStatusCodePaused,
                  Translate("Resume is not supported for the file(s) you have selected. Pause anyway?"));
  });
}

void TDownloadSystem::ScheduleDownloads(const TLDIList &records) {
  GuardedVoid("procedure TForm_Main.ScheduleDownload1Click(Sender: TObject)", [&] {
    StopDownloads(records, context_.Words.Scheduled, kStatusCodeScheduled,
                  Translate("Resume is not supported for the file(s) you have selected. Schedule anyway?"));
  });
}

void TDownloadSystem::ResumeDownloads(const TLDIList &records) {
  GuardedVoid("procedure TForm_Main.SpeedButton_ResumeClick(Sender: TObject)", [&] {
    for (TLocalDownloadinfo *record : records) {
      if (record->IsDone() || record->StatusState == TStatusState::Queued)
        continue;
      TDownloader *downloader = AssociatedDownloader(record);
      if (downloader != nullptr && record->RetryTimer == nullptr)
        continue;
      if (downloader != nullptr) {
        FreeRetryTimer(*record);
        downloader->RestartDownload();
        context_.Ui.UpdateRow(*record);
      } else {
        AddDownload(*record);
      }
    }
  });
}

void TDownloadSystem::DoOnSchedulerTime() {
  GuardedVoid("procedure TForm_Main.DoOnSchedulerTime(Sender : TObject)", [&] {
    for (TLocalDownloadinfo *record : AllRecords())
      if (records_.Listed(*record) && record->StatusState == TStatusState::Scheduled &&
          !InUseByAnotherProcess(*record))
        AddDownload(*record);
  });
}

void TDownloadSystem::DoOnSchedulerTimeOut() {
  GuardedVoid("procedure TForm_Main.DoOnSchedulerTimeOut(Sender : TObject)", [&] {
    // Those the pauses let start from the queue are not in this snapshot and keep running.
    std::vector<TDownloader *> active;
    for (TDownloader *downloader : queue_.Active())
      if (!IsJoining(*downloader))
        active.push_back(downloader);
    for (TDownloader *downloader : active) {
      downloader->Pause();
      TLocalDownloadinfo &record = downloader->Info;
      SetStatus(record, context_.Words.Scheduled, kStatusCodeScheduled);
      SaveRecord(record, "procedure TForm_Main.DoOnSchedulerTimeOut(Sender : TObject)");
      context_.Ui.UpdateRow(record);
    }
  });
}

} // namespace velmora
