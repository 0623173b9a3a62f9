#include "engine/PartDownloadSlots.h"

#include "engine/PartFile.h"
#include "engine/PartLayout.h"
#include "platform/Tick.h"
#include "shell/ReportError.h"

#include <algorithm>
#include <stdexcept>

namespace velmora {

namespace {

void Release(platform::EventLoop &loop, std::unique_ptr<TPartDownloader> part) {
  if (!part)
    return;
  part->Detach();
  loop.releaseLater(std::move(part));
}

} // namespace

TPartDownloadSlot::TPartDownloadSlot(const TPartDownloadContext &context)
    : Status(context.Words.Idle), context_(context) {}

void TPartDownloadSlot::SetStatus(TStatusState state) {
  StatusState = state;
  Status = context_.Words.Word(state);
}

void TPartDownloadSlot::SetStatus(const std::string &text) {
  StatusState = context_.Words.StateOf(text);
  Status = text;
}

TPartDownloadSlot::~TPartDownloadSlot() { Release(context_.Loop, std::move(PartDownloader_)); }

uint64_t TPartDownloadSlot::Now() const {
  return context_.Clock ? context_.Clock() : platform::MonotonicMilliseconds();
}

void TPartDownloadSlot::SetPartDownloaderStartByte(int64_t Startb) {
  if (!PartDownloader_)
    StartByte = Startb;
}

void TPartDownloadSlot::SetPartDownloaderEndByte(int64_t Endb) {
  EndByte = Endb;
  if (PartDownloader_)
    PartDownloader_->EndByte = Endb;
}

void TPartDownloadSlot::Attach(TPartDownloader &part) {
  part.OnChange = [this](TPartDownloader &Part, TPartDownloaderState State) {
    OnPartdownloaderChange(Part, State);
  };
}

void TPartDownloadSlot::Start(TFileMirror *Mirror_) {
  GuardedVoid("procedure TPartDownloadslot.Start(Mirror : TFileMirror)", [&] {
    if (Mirror_)
      Mirror = Mirror_;
    if (!Mirror)
      return;
    const std::string address = Mirror->Url.FullUrlWithQuery();
    // A part downloader only ever speaks one protocol; another mirror's protocol needs a new one.
    if (PartDownloader_ && PartDownloader_->Protocol() != Mirror->Url.Protocol)
      ReleasePartDownloader();
    if (!PartDownloader_) {
      PartDownloader_ = context_.Factory.CreatePartDownloader(address, PartFileName, StartByte, EndByte);
      if (!PartDownloader_)
        return;
      PartFileName = PartDownloader_->PartFileName;
    } else {
      PartDownloader_->Url = TUrl(address, context_.Words.Unknown);
      PartDownloader_->PartFileName = PartFileName;
      PartDownloader_->StartByte = StartByte;
      PartDownloader_->EndByte = EndByte;
    }
    TPartDownloader &part = *PartDownloader_;
    // What the part downloader learns of the file is checked against what the download knows.
    if (FileSize > 0)
      part.RemoteSize = FileSize;
    part.AuthTried = AuthTried;
    part.State = pdsConnecting;
    Attach(part);
    SetStatus(TStatusState::ContactingHost);
    part.Get();
    TransferCountCache = part.Received;
    BytesAtStart = part.Received;
    AverageRate = 0;
    StartTime = Now();
  });
}

void TPartDownloadSlot::Pause() {
  GuardedVoid("procedure TPartDownloadSlot.Pause", [&] {
    if (PartDownloader_)
      PartDownloader_->Pause();
  });
}

void TPartDownloadSlot::Abort() {
  GuardedVoid("procedure TPartDownloadSlot.Abort", [&] {
    if (PartDownloader_)
      PartDownloader_->Abort();
    else if (!PartFileName.empty())
      DeletePartFile(PartFileName);
  });
}

void TPartDownloadSlot::SetErrorState(TFileMirrorError ErrorState) {
  GuardedVoid("procedure TPartDownloadSlot.SetErrorState(ErrorState : TFileMirrorError)", [&] {
    if (Mirror)
      Mirror->ErrorState = ErrorState;
    if (!PartDownloader_)
      return;
    TPartDownloader &part = *PartDownloader_;
    part.ErrorText = context_.Words.CouldntLogin;
    part.State = pdsError;
    part.ErrorState = ErrorState;
    part.AuthTried = true;
    OnPartdownloaderChange(part, pdsError);
  });
}

void TPartDownloadSlot::OnPartdownloaderChange(TPartDownloader &Part, TPartDownloaderState State) {
  GuardedVoid("procedure TPartDownloadSlot.OnPartdownloaderChange(Part : TPartDownloader;State : "
              "TPartDownloaderState)",
              [&] {
                switch (State) {
                case pdsConnecting:
                  SetStatus(TStatusState::ContactingHost);
                  break;
                case pdsConnected:
                  SetStatus(TStatusState::GettingFileInfo);
                  break;
                case pdsAuthRequired:
                  Realm = Part.Realm;
                  break;
                case pdsFileSizeKnown:
                  FileSize = Part.RemoteSize;
                  if (EndByte == 0 && FileSize > 0)
                    EndByte = FileSize - 1; // the running part downloader keeps its own end
                  break;
                case pdsDownloading:
                  SetStatus(TStatusState::Downloading);
                  break;
                case pdsDone: {
                  TransferCountCache = EndByte > 0 ? PartLength() : Part.Received;
                  const int64_t seconds = static_cast<int64_t>((Now() - StartTime) / 1000);
                  AverageRate =
                      seconds > 0 ? DivideRoundHalfEven(TransferCountCache - BytesAtStart, seconds) : 0;
                  SetStatus(TStatusState::Done);
                  break;
                }
                case pdsError:
                  HadError = true;
                  if (Mirror)
                    Mirror->ErrorState = Part.ErrorState;
                  SetStatus(Part.ErrorText);
                  Part.AuthTried = false;
                  break;
                default:
                  break;
                }
                if (OnChange)
                  OnChange(*this, Part.State);
              });
}

bool TPartDownloadSlot::ResizePartFile() {
  return Guarded("procedure TPartDownloadSlot.ResizePartFile", [&] {
    if (!PartDownloader_ || PartDownloader_->EndByte <= 0)
      return false;
    const TPartDownloader &part = *PartDownloader_;
    switch (FitPartFile(part.PartFileName, part.EndByte - part.StartByte + 1)) {
    case TPartFileFit::pffExact:
    case TPartFileFit::pffCut:
      return true;
    case TPartFileFit::pffTooShort:
      throw std::runtime_error(part.PartFileName + " is shorter than its range");
    case TPartFileFit::pffMissing:
      throw std::runtime_error(part.PartFileName + " is missing");
    case TPartFileFit::pffFailed:
      throw std::runtime_error(part.PartFileName + " could not be cut");
    }
    return false;
  });
}

int64_t TPartDownloadSlot::TransferCount() const {
  if (!PartDownloader_)
    return TransferCountCache;
  const int64_t received = PartDownloader_->Received;
  return EndByte > 0 ? std::min(received, PartLength()) : received;
}

std::unique_ptr<TPartDownloader> TPartDownloadSlot::TakePartDownloader() {
  if (PartDownloader_) {
    TransferCountCache = TransferCount();
    PartDownloader_->OnChange = nullptr;
  }
  return std::move(PartDownloader_);
}

void TPartDownloadSlot::SetPartDownloader(std::unique_ptr<TPartDownloader> part) {
  ReleasePartDownloader();
  PartDownloader_ = std::move(part);
  if (PartDownloader_)
    Attach(*PartDownloader_);
}

void TPartDownloadSlot::ReleasePartDownloader() {
  if (PartDownloader_)
    TransferCountCache = TransferCount();
  Release(context_.Loop, std::move(PartDownloader_));
}

TPartDownloadSlot &TPartDownloadSlots::NewSlot() {
  slots_.push_back(std::make_unique<TPartDownloadSlot>(context_));
  return *slots_.back();
}

TPartDownloadSlot *TPartDownloadSlots::GetSlot(int32_t index) const {
  if (index < 0 || index >= NumberOfSlots())
    return nullptr;
  return slots_[static_cast<std::size_t>(index)].get();
}

int32_t TPartDownloadSlots::IndexOf(const TPartDownloadSlot *slot) const {
  for (std::size_t i = 0; i < slots_.size(); ++i)
    if (slots_[i].get() == slot)
      return static_cast<int32_t>(i);
  return -1;
}

void TPartDownloadSlots::DeleteSlot(int32_t index) {
  GuardedVoid("procedure TPartDownloadSlots.DeleteSlot(Index : Integer)", [&] {
    if (index < 0 || index >= NumberOfSlots())
      throw std::out_of_range("slot index " + std::to_string(index) + " of " +
                              std::to_string(NumberOfSlots()));
    const auto at = slots_.begin() + index;
    removed_.push_back(std::move(*at));
    slots_.erase(at);
  });
}

void TPartDownloadSlots::RemovePartDownloader(const TPartDownloader *PartDownloader) {
  for (const auto &slot : slots_)
    if (PartDownloader && slot->PartDownloader() == PartDownloader) {
      slot->ReleasePartDownloader();
      return;
    }
}

// A part downloader without a running request reports at once, and the handlers it reaches may
// take slots out of the list: walk a copy.
std::vector<TPartDownloadSlot *> TPartDownloadSlots::Snapshot() const {
  std::vector<TPartDownloadSlot *> slots;
  for (const auto &slot : slots_)
    slots.push_back(slot.get());
  return slots;
}

void TPartDownloadSlots::AbortAll() {
  for (TPartDownloadSlot *slot : Snapshot())
    slot->Abort();
}

void TPartDownloadSlots::PauseAll() {
  for (TPartDownloadSlot *slot : Snapshot())
    slot->Pause();
}

bool TPartDownloadSlots::AllInState(TPartDownloaderState State) const {
  return std::all_of(slots_.begin(), slots_.end(), [&](const auto &slot) {
    return !slot->PartDownloader() || slot->PartDownloader()->State == State;
  });
}

int32_t TPartDownloadSlots::NumberOfSlotsUsingFileMirror(const TFileMirror *FileMirror) const {
  return static_cast<int32_t>(std::count_if(slots_.begin(), slots_.end(),
                                            [&](const auto &slot) { return slot->Mirror == FileMirror; }));
}

} // namespace velmora
