#include "engine/Downloader.h"

#include "engine/PartFile.h"
#include "engine/PartLayout.h"
#include "platform/Tick.h"
#include "shell/ReportError.h"
#include "store/SettingDefinitions.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace velmora {

namespace {

constexpr int32_t kSpeedSamples = 200;
constexpr uint32_t kUpdateInterval = 100;
constexpr int32_t kMaxSimPings = 8;

} // namespace

TDownloader::TDownloader(const TDownloaderContext &context, TLocalDownloadinfo &Info_, int32_t NumberOfParts,
                         bool UseLocalMirrorList_, bool StartNow_)
    : context_(context), slotContext_{context.Words, context.Factory, context.Loop, context.Clock},
      Info(Info_), Slots(slotContext_), ResumeText(context.Words.Unknown), StartNow(StartNow_),
      Speed(kSpeedSamples, context.Clock, context.DecimalSeparator), NumParts(NumberOfParts),
      UseLocalMirrorList(UseLocalMirrorList_), UpdateTimer(context.Loop) {
  GuardedVoid("constructor TDownloader.Create", [&] {
    SetRecordStatus(context_.Words.ContactingHost, kStatusCodeConnecting);
    TFileMirror *own = MirrorList.Add(std::make_unique<TFileMirror>(Info.Url.Url));
    if (context_.Mirrors.PingSystems != nullptr) {
      PingSystem = context_.Mirrors.PingSystems->CreatePingSystem(
          kMaxSimPings, [this](TFileMirror &mirror) { PingedMirror(mirror); });
      PingSystem->AddMirror(*own);
    }

    TPartDownloadSlot &first = Slots.NewSlot();
    first.StartByte = 0;
    first.EndByte = 0;
    first.OnChange = [this](TPartDownloadSlot &slot, TPartDownloaderState state) { SlotChange(slot, state); };
    first.PartFileName = PartFileName(Info.TempFileName, 0);
    first.SetMirror(own);
    if (UseLocalMirrorList)
      LookUpLocalMirrors(first);

    // Without part files there is nothing to rebuild: the download starts again with the size
    // request, which the layout then follows.
    if (Info.NumOfParts != -1 && ListPartFiles(Info.TempFileName).empty())
      Info.NumOfParts = -1;
    // Parts found complete here are handed on by StartDownload: nobody listens to the events yet.
    if (Info.NumOfParts == -1)
      first.Start();
    else
      LayOutParts();
  });
}

TDownloader::~TDownloader() {
  ForgetWaitingSlots();
  // Reports of pings and parts still under way must find nothing of this download.
  PingSystem.reset();
  UpdateTimer.stop();
}

void TDownloader::ForgetWaitingSlots() {
  if (context_.Sites != nullptr)
    context_.Sites->RemoveWaitingSlotsOf(*this);
}

void TDownloader::LookUpLocalMirrors(TPartDownloadSlot &first) {
  if (context_.Mirrors.LocalMirrorList == nullptr)
    return;
  TMirrorList found = context_.Mirrors.LocalMirrorList->GetMirrors(Info.Url.Url);
  if (context_.Mirrors.Statistics != nullptr)
    context_.Mirrors.Statistics->OrderMirrors(found);
  std::vector<TFileMirror *> added;
  while (found.Count() > 0) {
    TFileMirror *mirror = MirrorList.Add(found.Extract(0));
    if (mirror->Url.Url == Info.Url.Url)
      first.SetMirror(mirror);
    added.push_back(mirror);
  }
  if (PingSystem)
    for (TFileMirror *mirror : added)
      PingSystem->AddMirror(*mirror);
}

void TDownloader::AddMirror(const std::string &url) {
  GuardedVoid("procedure TDownloader.AddMirror(Url : string)", [&] {
    if (MirrorList.GetMirror(url) != nullptr)
      return;
    TFileMirror *mirror = MirrorList.Add(std::make_unique<TFileMirror>(url));
    if (PingSystem)
      PingSystem->AddMirror(*mirror);
  });
}

void TDownloader::SetRecordStatus(const std::string &status, TStatusCode image) {
  Info.SetStatus(status);
  Info.StatusImage = image;
}

void TDownloader::Fail(const std::string &text) {
  ErrorText = text;
  SetRecordStatus(text, kStatusCodeError);
  if (OnDownloadError)
    OnDownloadError(*this);
}

void TDownloader::SaveLayout() {
  Info.NumOfParts = Slots.NumberOfSlots();
  const platform::FileResult saved = Info.SaveDatFile();
  if (!saved)
    ReportError("procedure TDownloader.SaveLayout", saved.error);
}

void TDownloader::StartDownload() {
  GuardedVoid("procedure TDownloader.StartDownload", [&] {
    if (AllPartsDone() && !Info.LocalFileName.empty()) {
      FinishIfComplete();
      return;
    }
    if (MirrorList.GetMirror(Info.Url.Url) == nullptr)
      MirrorList.Add(std::make_unique<TFileMirror>(Info.Url.Url));
    UpdateTimer.start(kUpdateInterval, true, [this] { OnUpdateTimer(); });
    if (OnStartDownload)
      OnStartDownload(*this);
  });
}

void TDownloader::OnUpdateTimer() {
  GuardedVoid("procedure TDownloader.OnUpdateTimer(Sender : TObject)", [&] {
    Speed.Update(TransferCount());
    if (OnUpdate)
      OnUpdate(*this);
  });
}

void TDownloader::Abort() {
  GuardedVoid("procedure TDownloader.Abort", [&] {
    Aborted = true;
    ForgetWaitingSlots();
    Slots.AbortAll();
    if (OnAbort)
      OnAbort(*this);
  });
}

void TDownloader::Pause() {
  GuardedVoid("procedure TDownloader.Pause", [&] {
    Paused = true;
    ForgetWaitingSlots();
    Slots.PauseAll();
    if (OnPause)
      OnPause(*this);
  });
}

void TDownloader::RestartDownload() {
  GuardedVoid("procedure TDownloader.RestartDownload", [&] {
    ++RestartCount;
    SetRecordStatus(context_.Words.ContactingHost, kStatusCodeConnecting);
    for (int32_t i = 0; i < Slots.NumberOfSlots(); ++i) {
      TPartDownloadSlot *slot = Slots.GetSlot(i);
      if (slot->StatusState == TStatusState::Done)
        continue;
      slot->AuthTried = false;
      slot->Start();
    }
  });
}

void TDownloader::CheckSlotsForTimeOut(uint32_t CurrentTick) {
  GuardedVoid("procedure TDownloader.CheckSlotsForTimeOut(CurrentTick : Cardinal)", [&] {
    const int32_t timeOut = ReadSetting(context_.Settings, setting::TimeOutTime);
    const int32_t mirrorTimeOut = ReadSetting(context_.Settings, setting::MirrorTimeOutTime);
    // A time-out may change the list of slots, so walk a copy.
    std::vector<TPartDownloadSlot *> slots;
    slots.reserve(static_cast<size_t>(std::max(Slots.NumberOfSlots(), 0)));
    for (int32_t i = 0; i < Slots.NumberOfSlots(); ++i)
      slots.push_back(Slots.GetSlot(i));
    for (TPartDownloadSlot *slot : slots) {
      TPartDownloader *part = slot->PartDownloader();
      if (part == nullptr)
        continue;
      const uint32_t limit =
          TimeOutLimit(part->State, Slots.NumberOfSlots() == 1, static_cast<uint32_t>(timeOut),
                       static_cast<uint32_t>(mirrorTimeOut));
      const uint32_t elapsed = platform::TicksBetween(part->LastActivityTick, CurrentTick);
      if (elapsed != 0 && limit > 0 && elapsed > limit)
        part->TimeOut();
    }
  });
}

std::string TDownloader::TimeLeft() const {
  if (Info.FileSize > 0)
    return Speed.TimeLeft(Info.FileSize - TransferCount());
  return "N/A";
}

int64_t TDownloader::TransferCount() const {
  int64_t total = 0;
  for (int32_t i = 0; i < Slots.NumberOfSlots(); ++i)
    total += Slots.GetSlot(i)->TransferCount();
  return total;
}

bool TDownloader::AllPartsDone() const {
  return Guarded("function TDownloader.AllPartsDone : boolean",
                 [&] { return velmora::AllPartsDone(Info.TempFileName, Info.FileSize, unsizedPartDone_); });
}

void TDownloader::FinishIfComplete() {
  if (handedToJoin_ || Info.LocalFileName.empty() || !AllPartsDone())
    return;
  // Parts that finished in the same moment have every byte on disk but have not reported yet:
  // they end here, so that nothing touches a part file while the parts are joined.
  for (int32_t i = 0; i < Slots.NumberOfSlots(); ++i)
    Slots.GetSlot(i)->ReleasePartDownloader();
  handedToJoin_ = true;
  Info.StatusImage = kStatusCodeDone;
  if (OnAllPartsDone)
    OnAllPartsDone(*this);
}

void TDownloader::CreateParts() {
  GuardedVoid("procedure TDownloader.CreateParts", [&] {
    if (AllPartsDone() && !Info.LocalFileName.empty()) {
      FinishIfComplete();
      return;
    }
    LayOutParts();
  });
}

void TDownloader::LayOutParts() {
  if (Info.NumOfParts == -1 || ListPartFiles(Info.TempFileName).empty())
    FreshLayout();
  else
    RebuildLayout();
}

void TDownloader::FreshLayout() {
  TPartDownloadSlot &first = *Slots.GetSlot(0);
  TFreshLayoutInput input;
  input.TempFileName = Info.TempFileName;
  input.FileSize = Info.FileSize;
  input.AlreadyFetched = first.TransferCount();
  input.NumParts = NumParts;
  input.SmallestSplitSize = ReadSetting(context_.Settings, setting::SmallestSplitSize);
  const std::vector<TPartPlan> plan = velmora::FreshLayout(input);
  if (plan.empty())
    return;
  first.SetPartDownloaderEndByte(plan.front().EndByte);
  std::vector<TPartDownloadSlot *> added;
  for (std::size_t i = 1; i < plan.size(); ++i) {
    TPartDownloadSlot &slot = Slots.NewSlot();
    slot.OnChange = [this](TPartDownloadSlot &s, TPartDownloaderState state) { SlotChange(s, state); };
    slot.StartByte = plan[i].StartByte;
    slot.EndByte = plan[i].EndByte;
    slot.PartFileName = plan[i].PartFileName;
    slot.FileSize = Info.FileSize;
    if (!CreatePartFile(slot.PartFileName))
      ReportError("Couldn't open part file.");
    // Chosen while the earlier slots hold theirs, so the parts spread over the mirrors.
    slot.SetMirror(ChooseMirror());
    added.push_back(&slot);
  }
  for (TPartDownloadSlot *slot : added)
    slot->Start();
}

void TDownloader::RebuildLayout() {
  const std::vector<TPartPlan> plan =
      velmora::RebuildLayout(Info.TempFileName, ListPartFiles(Info.TempFileName), Info.FileSize);
  NumParts = static_cast<int32_t>(plan.size());
  TPartDownloadSlot &first = *Slots.GetSlot(0);
  first.SetPartDownloaderEndByte(plan.front().EndByte);
  first.TransferCountCache = plan.front().TransferCountCache;
  first.FileSize = Info.FileSize;
  for (std::size_t j = 1; j < plan.size(); ++j) {
    TPartDownloadSlot &slot = Slots.NewSlot();
    slot.OnChange = [this](TPartDownloadSlot &s, TPartDownloaderState state) { SlotChange(s, state); };
    slot.StartByte = plan[j].StartByte;
    slot.EndByte = plan[j].EndByte;
    slot.PartFileName = plan[j].PartFileName;
    slot.TransferCountCache = plan[j].TransferCountCache;
    slot.FileSize = Info.FileSize;
  }
  for (std::size_t i = 0; i < plan.size(); ++i) {
    TPartDownloadSlot &slot = *Slots.GetSlot(static_cast<int32_t>(i));
    if (plan[i].Complete) {
      slot.SetMirror(nullptr);
      slot.SetStatus(TStatusState::Done);
      continue;
    }
    slot.SetMirror(ChooseMirror());
    slot.Start();
  }
}

TFileMirror *TDownloader::ChooseMirror() const {
  return Guarded("function TDownloader.ChooseMirror : TFileMirror", [&]() -> TFileMirror * {
    std::vector<TFileMirror *> candidates;
    for (const auto &mirror : MirrorList.Items())
      if (mirror->ErrorState == fmeNone)
        candidates.push_back(mirror.get());
    const auto score = [&](const TFileMirror *mirror) {
      return (int64_t{Slots.NumberOfSlotsUsingFileMirror(mirror)} + 1) * int64_t{mirror->PingTime};
    };
    // The first candidate that is not worse than its successor: a walk, not a search for the best.
    for (std::size_t j = 0; j < candidates.size(); ++j)
      if (j + 1 == candidates.size() || score(candidates[j]) <= score(candidates[j + 1]))
        return candidates[j];
    return nullptr;
  });
}

TPartDownloadSlot *TDownloader::GetNextIdleSlot() const {
  for (int32_t i = 0; i < Slots.NumberOfSlots(); ++i) {
    TPartDownloadSlot *slot = Slots.GetSlot(i);
    if (slot->PartDownloader() != nullptr && slot->PartDownloader()->State == pdsIdle)
      return slot;
  }
  return nullptr;
}

void TDownloader::MoveSlotToOtherMirror(TPartDownloadSlot &Slot, const std::string &failure) {
  if (TFileMirror *mirror = ChooseMirror()) {
    Slot.ReleasePartDownloader();
    Slot.Start(mirror);
    return;
  }
  if (TPartDownloader *part = Slot.PartDownloader())
    part->State = pdsIdle;
  if (Slots.AllIdle())
    Fail(failure);
}

void TDownloader::TryToChangeSlotMirror(TPartDownloadSlot &Slot) {
  GuardedVoid("procedure TDownloader.TryToChangeSlotMirror(Slot : TPartDownloadSlot)", [&] {
    const TFileMirror *failed = Slot.Mirror;
    // Parts moved along with it only contacted the host; the download fails with this one's text.
    const std::string failure = Slot.Status;
    MoveSlotToOtherMirror(Slot, failure);
    std::vector<TPartDownloadSlot *> others;
    for (int32_t i = 0; i < Slots.NumberOfSlots(); ++i) {
      TPartDownloadSlot *other = Slots.GetSlot(i);
      if (other == &Slot || other->Mirror != failed)
        continue;
      const TStatusState state = other->StatusState;
      if (state == TStatusState::Done || state == TStatusState::Downloading ||
          state == TStatusState::GettingFileInfo)
        continue;
      others.push_back(other);
    }
    for (TPartDownloadSlot *other : others)
      MoveSlotToOtherMirror(*other, failure);
  });
}

void TDownloader::SlotChange(TPartDownloadSlot &Slot, TPartDownloaderState State) {
  GuardedVoid("procedure TDownloader.SlotChange(Slot : TPartDownloadSlot;State : TPartDownloaderState)", [&] {
    switch (State) {
    case pdsConnecting:
      if (Info.StatusImage != kStatusCodeDownloading)
        SetRecordStatus(context_.Words.ContactingHost, kStatusCodeConnecting);
      break;
    case pdsConnected:
      if (Info.StatusImage != kStatusCodeDownloading)
        SetRecordStatus(context_.Words.GettingFileInfo, kStatusCodeConnecting);
      break;
    case pdsAuthRequired:
      if (OnAuthenticationRequired) {
        if (context_.Sites != nullptr && Slot.Mirror != nullptr)
          context_.Sites->AddWaitingSlot(Slot.Mirror->Url, Slot.Realm, Slot, *this);
        OnAuthenticationRequired(*this, Slot);
      }
      break;
    case pdsFileSizeKnown:
      if (!OnSlotFileSizeKnown(Slot))
        return;
      break;
    case pdsResumeKnown:
      if (!OnSlotResumeKnown(Slot))
        return;
      break;
    case pdsDownloading:
      RestartCount = 0;
      if (Info.StatusImage != kStatusCodeDownloading)
        SetRecordStatus(context_.Words.Downloading, kStatusCodeDownloading);
      break;
    case pdsDone:
      OnSlotDone(Slot);
      break;
    case pdsRangeComplete:
      OnSlotRangeComplete(Slot);
      break;
    case pdsError:
      OnSlotError(Slot);
      break;
    case pdsPaused:
      if (Slots.AllPaused() && OnPause)
        OnPause(*this);
      break;
    default:
      break;
    }
    if (OnSlotChange)
      OnSlotChange(*this, Slot);
  });
}

bool TDownloader::OnSlotFileSizeKnown(TPartDownloadSlot &Slot) {
  // A record laid out before whose part files are gone knows its size already; it splits again.
  const bool sizeWasKnown = Info.FileSize != 0;
  if (!sizeWasKnown)
    Info.FileSize = Slot.FileSize;
  if (&Slot != Slots.GetSlot(0))
    return true;
  if (!sizeWasKnown) {
    if (OnFileSizeRequestDone)
      OnFileSizeRequestDone(*this);
    if (ResumeSupported != rsUnknown && !StartNow) {
      Pause();
      return false;
    }
  } else if (!StartNow) {
    return true;
  }
  if (ResumeSupported == rsYes && Slots.NumberOfSlots() < NumParts)
    SplitAfterSizeRequest();
  return true;
}

bool TDownloader::OnSlotResumeKnown(TPartDownloadSlot &Slot) {
  if (ResumeSupported != rsUnknown)
    return true;
  const TPartDownloader *part = Slot.PartDownloader();
  if (part == nullptr)
    return true;
  ResumeSupported = part->ResumeSupported;
  ResumeText = part->ResumeText;
  if (OnResume)
    OnResume(*this);
  if (Info.FileSize != 0 && !StartNow) {
    Pause();
    return false;
  }
  if (ResumeSupported == rsYes && Slots.NumberOfSlots() < NumParts && Slot.FileSize > 0)
    SplitAfterSizeRequest();
  return true;
}

void TDownloader::SplitAfterSizeRequest() {
  CreateParts();
  SaveLayout();
}

void TDownloader::OnSlotDone(TPartDownloadSlot &Slot) {
  if (handedToJoin_)
    return;
  if (!Aborted && !Paused && Slot.AverageRate > 0 && Slot.Mirror != nullptr && OnServerStat)
    OnServerStat(Slot.Mirror->Url.ServerName(), Slot.AverageRate);
  Slot.ResizePartFile();
  if (TPartDownloadSlot *idle = GetNextIdleSlot()) {
    // The finished connection goes on with a part that has no usable mirror of its own.
    TFileMirror *mirror = Slot.Mirror;
    idle->SetPartDownloader(Slot.TakePartDownloader());
    idle->Start(mirror);
    return;
  }
  // A part without an end is the whole of a file of unknown length: its transfer says it ended
  // well. Kept, since the Save As choice may still be open and the download end later.
  if (Slots.NumberOfSlots() == 1 && Slot.EndByte <= 0)
    unsizedPartDone_ = true;
  Slot.ReleasePartDownloader();
  FinishIfComplete();
}

void TDownloader::OnSlotRangeComplete(TPartDownloadSlot &Slot) {
  const int32_t index = Slots.IndexOf(&Slot);
  TPartDownloadSlot *next = Slots.GetSlot(index + 1);
  if (index >= 0 && next != nullptr && next->StatusState != TStatusState::Done &&
      next->StatusState != TStatusState::Downloading && next->TransferCount() == 0) {
    // The running transfer simply goes on into the neighbour's range.
    next->ReleasePartDownloader();
    DeletePartFile(next->PartFileName);
    Slot.SetPartDownloaderEndByte(next->EndByte);
    if (context_.Sites != nullptr)
      context_.Sites->RemoveWaitingSlot(*next);
    if (OnSlotDelete)
      OnSlotDelete(*this, *next);
    Slots.DeleteSlot(index + 1);
    --NumParts;
    SaveLayout();
  }
  if (TPartDownloader *part = Slot.PartDownloader())
    part->State = pdsDownloading;
}

void TDownloader::OnSlotError(TPartDownloadSlot &Slot) {
  const TPartDownloader *part = Slot.PartDownloader();
  const TPartDownloadSlot *first = Slots.GetSlot(0);
  if (part != nullptr && ResumeSupported == rsYes && part->ErrorState == fmeResumeNotSupported &&
      first != nullptr && first->Mirror != nullptr && part->Url.Host == first->Mirror->Url.Host) {
    ResumeSupported = part->ResumeSupported;
    ResumeText = part->ResumeText;
    if (ResumeSupported == rsNo && OnResume)
      OnResume(*this);
  }
  if (Info.FileSize == 0) {
    Fail(Slot.Status);
    return;
  }
  TryToChangeSlotMirror(Slot);
}

void TDownloader::PingedMirror(TFileMirror &mirror) {
  GuardedVoid("procedure TDownloader.OnPingedMirror(FileMirror : TFileMirror)", [&] {
    std::unique_ptr<TFileMirror> taken = MirrorList.Extract(&mirror);
    if (!taken)
      return;
    const int32_t index = MirrorList.InsertSorted(std::move(taken));
    if (OnPingedMirror)
      OnPingedMirror(*this, mirror, index);
  });
}

} // namespace velmora
