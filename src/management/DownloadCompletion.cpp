#include "management/Downloads.h"

#include "shell/ReportError.h"
#include "store/Category.h"
#include "store/SettingDefinitions.h"

#include <filesystem>
#include <system_error>

namespace velmora {

void TDownloadSystem::OnAllPartsDone(TDownloader &Downloader) {
  GuardedVoid("procedure TDownloadSystem.OnAllPartsDone(Downloader : TDownloader)", [&] {
    TLocalDownloadinfo &record = Downloader.Info;
    Downloader.StopUpdates();
    TDownloadForms *entry = DownloadFormsList.GetDownloadForms(&Downloader);
    if (entry != nullptr)
      CloseDownloadForm(*entry);
    if (!record.LocalFileName.empty() && entry != nullptr && !entry->Joining) {
      SetStatus(record, context_.Words.CombiningFiles, kStatusCodeDone);
      StartJoining(*entry);
    }
    SaveRecord(record, "procedure TDownloadSystem.OnAllPartsDone(Downloader : TDownloader)");
    context_.Ui.UpdateRow(record);
    DownloadNextInQueue();
  });
}

void TDownloadSystem::StartJoining(TDownloadForms &entry) {
  TDownloader *downloader = entry.Downloader.get();
  TLocalDownloadinfo &record = downloader->Info;
  TCombineParts::THandlers handlers;
  handlers.OnStatus = [this, &record](const std::string &status) {
    if (record.Status == status)
      return;
    record.SetStatus(status);
    context_.Ui.UpdateRow(record);
  };
  handlers.OnMessage = [this](const std::string &message) { context_.Ui.ShowMessage(message); };
  handlers.OnFilesCombined = [this, downloader](const TCombineOutcome &outcome) {
    OnFilesCombined(*downloader, outcome);
  };
  handlers.Translate = context_.Records.Translate;
  entry.Joining = std::make_unique<TCombineParts>(
      context_.Loop, context_.Settings,
      TCombineParts::TRecord{record.LocalFileName, record.TempFileName, record.FileSize},
      std::move(handlers));
}

void TDownloadSystem::OnFilesCombined(TDownloader &Downloader, const TCombineOutcome &outcome) {
  GuardedVoid("procedure TDownloadSystem.OnFilesCombined(Downloader : TDownloader)", [&] {
    TLocalDownloadinfo &record = Downloader.Info;
    TDownloadForms *entry = DownloadFormsList.GetDownloadForms(&Downloader);
    if (entry != nullptr)
      context_.Loop.releaseLater(std::move(entry->Joining));
    queue_.Deactivate(Downloader);
    if (!outcome.Combined) {
      // The part files are all still there: the record stays unfinished and can be joined again.
      Downloader.ErrorText = outcome.Message;
      SetStatus(record, outcome.Message, kStatusCodeError);
      SaveRecord(record, "procedure TDownloadSystem.OnFilesCombined(Downloader : TDownloader)");
      context_.Ui.UpdateRow(record);
      if (entry != nullptr)
        ReleaseIfUnused(*entry);
    } else {
      CompleteDownload(Downloader);
    }
    if (queue_.Active().empty())
      OnAllDownloadsComplete();
  });
}

void TDownloadSystem::CompleteDownload(TDownloader &Downloader) {
  TLocalDownloadinfo &record = Downloader.Info;
  if (record.FileSize == -1) {
    std::error_code error;
    const auto size = std::filesystem::file_size(record.LocalFileName, error);
    if (!error)
      record.FileSize = static_cast<int64_t>(size);
  }
  SetStatus(record, context_.Words.Done, kStatusCodeDone);
  context_.Ui.UpdateRow(record);
  if (TDownloadForms *entry = DownloadFormsList.GetDownloadForms(&Downloader)) {
    if (!entry->CompleteForm) {
      entry->CompleteForm = context_.Ui.CreateCompleteWindow(Downloader);
      const bool show = record.Category != nullptr
                            ? record.Category->ShowCompleteDialog
                            : ReadSetting(context_.Settings, setting::ShowCompletedDialog);
      if (show && entry->CompleteForm)
        entry->CompleteForm->Show();
    }
    ReleaseIfUnused(*entry);
  }
  if (ReadSetting(context_.Settings, setting::RemoveSuccessfulDownloadFromList))
    RemoveFromStringGrid(Downloader);
  else
    SaveRecord(record, "procedure TDownloadSystem.OnFilesCombined(Downloader : TDownloader)");
}

void TDownloadSystem::OnAllDownloadsComplete() {
  finalActions_.Run({.HangUp = HangUpAfterDownloading,
                     .ShutdownWanted = [this] { return ShutdownAfterDownloading; },
                     .AnyActive = [this] { return !queue_.Active().empty(); },
                     .Done =
                         [this] {
                           if (OnFinalActionsDone)
                             OnFinalActionsDone();
                         }});
}

} // namespace velmora
