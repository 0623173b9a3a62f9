#pragma once

#include "engine/FileMirror.h"
#include "engine/MirrorSeams.h"
#include "engine/PartDownloadSlots.h"
#include "engine/PartDownloader.h"
#include "engine/SiteManager.h"
#include "engine/TransferSpeed.h"
#include "platform/EventLoop.h"
#include "shell/Constants.h"
#include "store/LocalDownloadInfo.h"
#include "store/Registry.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace velmora {

// What every downloader needs; it outlives the downloaders.
struct TDownloaderContext {
  platform::EventLoop &Loop;
  const TSettingsStore &Settings; // SmallestSplitSize, TimeOutTime, MirrorTimeOutTime
  const TConstants &Words;
  IPartDownloaderFactory &Factory;
  TMirrorServices Mirrors;      // all null: only the download's own address, never pinged
  TMillisecondClock Clock = {}; // the monotonic clock when empty
  std::string DecimalSeparator = ".";
  TSiteManager *Sites = nullptr; // none: no slot waits for credentials
};

// Runs the download of one file: the size request, the split into parts, the mirror of every
// part, the reaction to every change of every part, time-outs, and the hand-over to joining
// when every part file is complete. It reports only through its events; the download system
// decides what follows (dialogs, retries, joining).
class TDownloader {
  // First, so that they are built before the slots that refer to them.
  const TDownloaderContext &context_;
  TPartDownloadContext slotContext_;

public:
  using TEvent = std::function<void(TDownloader &)>;
  using TSlotEvent = std::function<void(TDownloader &, TPartDownloadSlot &)>;

  // NumberOfParts is the setting SplitParts; StartNow false lets the download only learn the
  // size and the resume support, then pause (a queued download).
  TDownloader(const TDownloaderContext &context, TLocalDownloadinfo &Info, int32_t NumberOfParts,
              bool UseLocalMirrorList, bool StartNow);
  ~TDownloader();
  TDownloader(const TDownloader &) = delete;
  TDownloader &operator=(const TDownloader &) = delete;

  // Starts the 100 ms update timer, or finishes at once when every part is already complete.
  void StartDownload();
  void Abort();
  void Pause();
  // Starts every unfinished part again on its current mirror.
  void RestartDownload();
  // Ends parts that gave no sign of life for too long; CurrentTick is GetTickCount's.
  void CheckSlotsForTimeOut(uint32_t CurrentTick);
  // Adds another server holding the same file (and pings it); the parts may then use it.
  void AddMirror(const std::string &url);
  // Stops the update timer (the download system does so before joining).
  void StopUpdates() { UpdateTimer.stop(); }

  std::string TimeLeft() const;
  std::string TransferRate() const { return Speed.RateText(); }
  int64_t TransferCount() const;

  // Lays the parts out, or rebuilds them from the part files, and starts every unfinished one.
  void CreateParts();
  bool AllPartsDone() const;
  // The first usable mirror that is not worse than the next one, weighing ping time by the
  // number of slots already on it; nullptr when every mirror has failed.
  TFileMirror *ChooseMirror() const;

  TLocalDownloadinfo &Info;
  TPartDownloadSlots Slots; // in byte order
  TResumeSupport ResumeSupported = rsUnknown;
  std::string ResumeText;
  TMirrorList MirrorList;
  bool Aborted = false;
  bool Paused = false;
  bool StartNow;
  TTransferSpeed Speed;
  std::string ErrorText;
  int32_t NumParts;
  bool UseLocalMirrorList;
  int32_t RestartCount = 0;

  TEvent OnFileSizeRequestDone;
  TSlotEvent OnAuthenticationRequired;
  TEvent OnStartDownload;
  TEvent OnDownloadError;
  TEvent OnUpdate;
  TEvent OnAllPartsDone;
  std::function<void(TDownloader &, TFileMirror &, int32_t index)> OnPingedMirror;
  std::function<void(const std::string &host, int64_t rate)> OnServerStat;
  TEvent OnAbort;
  TEvent OnPause;
  TEvent OnResume;
  TSlotEvent OnSlotChange;
  TSlotEvent OnSlotDelete;

private:
  // An answer to a credentials demand must never reach a slot of a download that is gone.
  void ForgetWaitingSlots();
  void SetRecordStatus(const std::string &status, TStatusCode image);
  void Fail(const std::string &text);
  void SaveLayout();
  void LookUpLocalMirrors(TPartDownloadSlot &first);
  // The fresh layout or the rebuild from the part files, without raising any event.
  void LayOutParts();
  void FreshLayout();
  void RebuildLayout();
  void FinishIfComplete();
  TPartDownloadSlot *GetNextIdleSlot() const;
  // failure: the text the download fails with when no mirror is left.
  void MoveSlotToOtherMirror(TPartDownloadSlot &Slot, const std::string &failure);
  void TryToChangeSlotMirror(TPartDownloadSlot &Slot);
  void SlotChange(TPartDownloadSlot &Slot, TPartDownloaderState State);
  // Each returns false when the download must not report the change any further.
  bool OnSlotFileSizeKnown(TPartDownloadSlot &Slot);
  bool OnSlotResumeKnown(TPartDownloadSlot &Slot);
  void OnSlotDone(TPartDownloadSlot &Slot);
  void OnSlotRangeComplete(TPartDownloadSlot &Slot);
  void OnSlotError(TPartDownloadSlot &Slot);
  void PingedMirror(TFileMirror &mirror);
  void OnUpdateTimer();
  void SplitAfterSizeRequest();

  std::unique_ptr<IPingSystem> PingSystem;
  platform::LoopTimer UpdateTimer;
  bool unsizedPartDone_ = false; // the only part of a file of unknown length ended cleanly
  bool handedToJoin_ = false;    // OnAllPartsDone was raised: the part files belong to the join now
};

} // namespace velmora
