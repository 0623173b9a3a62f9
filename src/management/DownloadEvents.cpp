#include "management/Downloads.h"

#include "shell/ReportError.h"
#include "store/IndependentGeneralFunctions.h"
#include "store/SettingDefinitions.h"

#include <algorithm>
#include <filesystem>

namespace velmora {

void TDownloadSystem::BindEvents(TDownloader &Downloader) {
  Downloader.OnFileSizeRequestDone = [this](TDownloader &d) { OnFileSizeRequestDone(d); };
  Downloader.OnAuthenticationRequired = [this](TDownloader &d, TPartDownloadSlot &s) {
    OnAuthenticationRequired(d, s);
  };
  Downloader.OnStartDownload = [this](TDownloader &d) { OnStartDownload(d); };
  Downloader.OnDownloadError = [this](TDownloader &d) { OnDownloadError(d); };
  Downloader.OnUpdate = [this](TDownloader &d) { OnUpdate(d); };
  Downloader.OnAllPartsDone = [this](TDownloader &d) { OnAllPartsDone(d); };
  Downloader.OnPingedMirror = [this](TDownloader &d, TFileMirror &m, int32_t i) { OnPingedMirror(d, m, i); };
  Downloader.OnServerStat = [this](const std::string &host, int64_t rate) { OnServerStat(host, rate); };
  Downloader.OnAbort = [this](TDownloader &d) { OnAbort(d); };
  Downloader.OnPause = [this](TDownloader &d) { OnPause(d); };
  Downloader.OnResume = [this](TDownloader &d) { OnResume(d); };
  Downloader.OnSlotChange = [this](TDownloader &d, TPartDownloadSlot &s) { OnSlotChange(d, s); };
  Downloader.OnSlotDelete = [this](TDownloader &d, TPartDownloadSlot &s) { OnSlotDelete(d, s); };
}

void TDownloadSystem::OnFileSizeRequestDone(TDownloader &Downloader) {
  GuardedVoid("procedure TDownloadSystem.OnFileSizeRequestDone(Downloader : TDownloader)", [&] {
    SaveRecord(Downloader.Info, "procedure TDownloadSystem.OnFileSizeRequestDone(Downloader : TDownloader)");
    const TDownloadForms *entry = DownloadFormsList.GetDownloadForms(&Downloader);
    if (entry != nullptr && entry->FileInfoForm)
      entry->FileInfoForm->ShowSize(BytesToPresentableString(Downloader.Info.FileSize, context_.Words));
  });
}

void TDownloadSystem::OnAuthenticationRequired(TDownloader &Downloader, TPartDownloadSlot &Slot) {
  GuardedVoid("procedure TDownloadSystem.OnAuthenticationRequired(Downloader : TDownloader; Slot : "
              "TPartDownloadSlot)",
              [&] { context_.Ui.ShowAuthForm(Downloader, Slot); });
}

void TDownloadSystem::SlotAuthenticated(TDownloader &, TPartDownloadSlot &Slot) {
  GuardedVoid(
      "procedure TDownloadSystem.SlotAuthenticated(Downloader : TDownloader; Slot : TPartDownloadSlot)", [&] {
        Slot.AuthTried = true;
        Slot.Start();
      });
}

void TDownloadSystem::AbortSlotAuthenticated(TDownloader &, TPartDownloadSlot &Slot) {
  GuardedVoid(
      "procedure TDownloadSystem.AbortSlotAuthenticated(Downloader : TDownloader; Slot : TPartDownloadSlot)",
      [&] {
        Slot.AuthTried = true;
        Slot.SetErrorState(fmeLoginFailed);
      });
}

void TDownloadSystem::OnStartDownload(TDownloader &Downloader) {
  GuardedVoid("procedure TDownloadSystem.OnStartDownload(Downloader : TDownloader)", [&] {
    SaveRecord(Downloader.Info, "procedure TDownloadSystem.OnStartDownload(Downloader : TDownloader)");
    if (ReadSetting(context_.Settings, setting::ShowDownloadWindow))
      ShowDownloadForm(Downloader);
  });
}

void TDownloadSystem::OnUpdate(TDownloader &Downloader) {
  GuardedVoid("procedure TDownloadSystem.OnUpdate(Downloader : TDownloader)", [&] {
    const TDownloadForms *entry = DownloadFormsList.GetDownloadForms(&Downloader);
    if (entry != nullptr && entry->DownloadForm && entry->DownloadForm->Visible())
      entry->DownloadForm->Refresh();
    context_.Ui.UpdateRow(Downloader.Info);
  });
}

void TDownloadSystem::OnResume(TDownloader &Downloader) {
  GuardedVoid("procedure TDownloadSystem.OnResume(Downloader : TDownloader)", [&] {
    const TDownloadForms *entry = DownloadFormsList.GetDownloadForms(&Downloader);
    if (entry != nullptr && entry->DownloadForm)
      entry->DownloadForm->Refresh();
    context_.Ui.UpdateRow(Downloader.Info);
  });
}

void TDownloadSystem::OnSlotChange(TDownloader &Downloader, TPartDownloadSlot &Slot) {
  GuardedVoid("procedure TDownloadSystem.OnSlotChange(Downloader : TDownloader; Slot : TPartDownloadSlot)",
              [&] {
                const TDownloadForms *entry = DownloadFormsList.GetDownloadForms(&Downloader);
                if (entry != nullptr && entry->DownloadForm)
                  entry->DownloadForm->SlotChanged(Slot);
              });
}

void TDownloadSystem::OnSlotDelete(TDownloader &Downloader, TPartDownloadSlot &Slot) {
  GuardedVoid("procedure TDownloadSystem.OnSlotDelete(Downloader : TDownloader; Slot : TPartDownloadSlot)",
              [&] {
                const TDownloadForms *entry = DownloadFormsList.GetDownloadForms(&Downloader);
                if (entry != nullptr && entry->DownloadForm && entry->DownloadForm->Visible())
                  entry->DownloadForm->SlotDeleted(Slot);
              });
}

void TDownloadSystem::OnPingedMirror(TDownloader &, TFileMirror &FileMirror, int32_t) {
  GuardedVoid("procedure TDownloadSystem.OnPingedMirror(Downloader : TDownloader; FileMirror : TFileMirror; "
              "index : integer)",
              [&] {
                if (context_.Statistics != nullptr)
                  context_.Statistics->AddPing(FileMirror.Url.ServerName(), FileMirror.PingTime);
              });
}

void TDownloadSystem::OnServerStat(const std::string &host, int64_t rate) {
  GuardedVoid("procedure TDownloadSystem.OnServerStat(Host : string; Rate : integer)", [&] {
    if (context_.Statistics != nullptr)
      context_.Statistics->AddSpeed(host, rate);
  });
}

void TDownloadSystem::OnPause(TDownloader &Downloader) {
  GuardedVoid("procedure TDownloadSystem.OnPause(Downloader : TDownloader)", [&] {
    // A download that is joining its parts is finished with; the join decides what comes next.
    if (IsJoining(Downloader))
      return;
    TLocalDownloadinfo &record = Downloader.Info;
    FreeRetryTimer(record);
    queue_.Deactivate(Downloader);
    if (TDownloadForms *entry = DownloadFormsList.GetDownloadForms(&Downloader)) {
      CloseDownloadForm(*entry);
      ReleaseIfUnused(*entry);
    }
    if (record.StatusState != TStatusState::Scheduled) {
      SetStatus(record, context_.Words.Paused, kStatusCodePaused);
      SaveRecord(record, "procedure TDownloadSystem.OnPause(Downloader : TDownloader)");
    }
    context_.Ui.UpdateRow(record);
    DownloadNextInQueue();
  });
}

void TDownloadSystem::OnAbort(TDownloader &Downloader) {
  GuardedVoid("procedure TDownloadSystem.OnAbort(Downloader : TDownloader)", [&] {
    FreeRetryTimer(Downloader.Info);
    queue_.Deactivate(Downloader);
    RemoveFromStringGrid(Downloader);
    if (TDownloadForms *entry = DownloadFormsList.GetDownloadForms(&Downloader)) {
      CloseDownloadForm(*entry);
      AllowFree(*entry);
    }
    DownloadNextInQueue();
  });
}

void TDownloadSystem::RemoveFromStringGrid(TDownloader &Downloader) {
  DeleteItems(TLDIList({&Downloader.Info}), false);
}

void TDownloadSystem::OnDownloadError(TDownloader &Downloader) {
  GuardedVoid("procedure TDownloadSystem.OnDownloadError(Downloader : TDownloader)", [&] {
    TLocalDownloadinfo &record = Downloader.Info;
    if (record.StatusState == TStatusState::Scheduled)
      return;
    const TColor color = GetStatusColor(record.StatusImage);
    if (TDownloadForms *entry = DownloadFormsList.GetDownloadForms(&Downloader)) {
      if (entry->FileInfoForm && entry->FileInfoForm->Visible())
        entry->FileInfoForm->ShowError(Translate("Error:") + " " + Downloader.ErrorText, color);
      // The record keeps the real error word; the window shows the same.
      if (entry->DownloadForm && entry->DownloadForm->Visible()) {
        entry->DownloadForm->SetCaption(Downloader.ErrorText + ": " +
                                        std::filesystem::path(record.LocalFileName).filename().string());
        entry->DownloadForm->ShowStatus(record.Status, color);
      }
    }
    SaveRecord(record, "procedure TDownloadSystem.OnDownloadError(Downloader : TDownloader)");
    context_.Ui.UpdateRow(record);

    const int32_t retryTimes = ReadSetting(context_.Settings, setting::RetryTimes);
    if (Downloader.RestartCount >= retryTimes) {
      GiveUp(Downloader);
      return;
    }
    if (retryTimers_.Start(record, ReadSetting(context_.Settings, setting::RetryDelay),
                           [this](TLocalDownloadinfo &r) { OnRetryTimer(r); }))
      context_.Ui.UpdateRow(record);
  });
}

void TDownloadSystem::GiveUp(TDownloader &Downloader) {
  queue_.Deactivate(Downloader);
  if (TDownloadForms *entry = DownloadFormsList.GetDownloadForms(&Downloader)) {
    CloseDownloadForm(*entry);
    ReleaseIfUnused(*entry);
  }
  DownloadNextInQueue();
  if (queue_.Active().empty())
    OnAllDownloadsComplete();
}

void TDownloadSystem::OnRetryTimer(TLocalDownloadinfo &record) {
  GuardedVoid("procedure TDownloadSystem.OnRetryTimer(Sender : TObject)", [&] {
    --record.RetryCountdown;
    TDownloader *downloader = AssociatedDownloader(&record);
    if (downloader == nullptr) {
      FreeRetryTimer(record);
      return;
    }
    const TDownloadForms *entry = DownloadFormsList.GetDownloadForms(downloader);
    IDownloadWindow *window = entry != nullptr ? entry->DownloadForm.get() : nullptr;
    if (record.RetryCountdown <= 0) {
      FreeRetryTimer(record);
      downloader->RestartDownload();
      if (window != nullptr)
        window->ShowStatus(context_.Words.ContactingHost, GetStatusColor(record.StatusImage));
    } else if (window != nullptr) {
      window->ShowStatus(record.Status + " (" + std::to_string(record.RetryCountdown) + ")",
                         GetStatusColor(record.StatusImage));
    }
    context_.Ui.UpdateRow(record);
  });
}

} // namespace velmora
