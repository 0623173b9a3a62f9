#pragma once

#include "engine/FileMirror.h"
#include "engine/PartDownloader.h"
#include "engine/TransferSpeed.h"
#include "platform/EventLoop.h"
#include "shell/Constants.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

// What every slot of a download needs; it outlives the slots.
struct TPartDownloadContext {
  const TConstants &Words;
  IPartDownloaderFactory &Factory;
  // Part downloaders are released through the loop, since a slot may lose its part downloader
  // while that part downloader's own event is still running.
  platform::EventLoop &Loop;
  TMillisecondClock Clock = {}; // the monotonic clock when empty
};

// One byte range of a download: the stable handle of a part while part downloaders come and go.
// It keeps the range, the part file, the mirror in use and the status text shown for the part,
// and passes every change of its part downloader on through OnChange.
class TPartDownloadSlot {
public:
  using TSlotChangeEvent = std::function<void(TPartDownloadSlot &Slot, TPartDownloaderState State)>;

  explicit TPartDownloadSlot(const TPartDownloadContext &context);
  ~TPartDownloadSlot();
  TPartDownloadSlot(const TPartDownloadSlot &) = delete;
  TPartDownloadSlot &operator=(const TPartDownloadSlot &) = delete;

  // StartByte changes only while there is no part downloader.
  void SetPartDownloaderStartByte(int64_t Startb);
  // Sets EndByte, and the part downloader's too, so a running transfer stops there or goes on.
  void SetPartDownloaderEndByte(int64_t Endb);
  void SetMirror(TFileMirror *Mirror_) { Mirror = Mirror_; }
  // Starts the part on Mirror_ (the current Mirror when none is given); nothing happens without a
  // mirror or for a protocol without a part downloader.
  void Start(TFileMirror *Mirror_ = nullptr);
  void Pause();
  // Aborts the part downloader, which deletes the part file; without one the file is deleted here.
  void Abort();
  // Marks the part as failed to log in (the user gave no credentials).
  void SetErrorState(TFileMirrorError ErrorState);
  // Cuts the part file to the part's length. A shorter file is left as it is and reported, since
  // zeros would pass for data. True when the file now holds exactly its range.
  bool ResizePartFile();
  // Bytes of this part on disk, at most the part's length.
  int64_t TransferCount() const;

  TPartDownloader *PartDownloader() const { return PartDownloader_.get(); }
  // Hands the part downloader over (a finished part gives its connection to an idle slot).
  std::unique_ptr<TPartDownloader> TakePartDownloader();
  // Takes over another slot's part downloader; the slot's own one is released.
  void SetPartDownloader(std::unique_ptr<TPartDownloader> part);
  // Releases the part downloader, safely even from inside its own event.
  void ReleasePartDownloader();

  int64_t StartByte = 0;
  int64_t EndByte = 0;    // 0 or less: no end known
  uint64_t StartTime = 0; // milliseconds of the context's clock when last started
  int64_t BytesAtStart = 0;
  int64_t AverageRate = 0;       // bytes per second of the last completed run; 0 when unknown
  TFileMirror *Mirror = nullptr; // not owned
  std::string PartFileName;
  std::string Status; // shown as it is; logic asks StatusState
  TStatusState StatusState = TStatusState::Idle;
  // The state with the vocabulary's word for it.
  void SetStatus(TStatusState state);
  // A failure's own text; its state is the word's when it is one.
  void SetStatus(const std::string &text);
  // The remote file's size: reported by the part downloader, or set by the downloader for a slot
  // of a file whose size it knows. When known, every part downloader the slot starts checks the
  // server's answer against it ("Filesize mismatch" for a mirror with another file).
  int64_t FileSize = 0;
  TSlotChangeEvent OnChange;
  int64_t TransferCountCache = 0; // byte count while there is no part downloader
  std::string Realm;
  bool AuthTried = false;
  bool HadError = false; // a part downloader of this slot reported pdsError; never cleared

private:
  void OnPartdownloaderChange(TPartDownloader &Part, TPartDownloaderState State);
  void Attach(TPartDownloader &part);
  uint64_t Now() const;
  int64_t PartLength() const { return EndByte - StartByte + 1; }

  const TPartDownloadContext &context_;
  std::unique_ptr<TPartDownloader> PartDownloader_;
};

// The slots of one download in byte order, and the slots taken out of it, which stay alive until
// the collection ends so that references held elsewhere remain valid.
class TPartDownloadSlots {
public:
  explicit TPartDownloadSlots(const TPartDownloadContext &context) : context_(context) {}

  TPartDownloadSlot &NewSlot();
  // nullptr for an index out of range.
  TPartDownloadSlot *GetSlot(int32_t index) const;
  int32_t NumberOfSlots() const { return static_cast<int32_t>(slots_.size()); }
  int32_t IndexOf(const TPartDownloadSlot *slot) const;
  // Moves the slot to the removed ones; it is not destroyed.
  void DeleteSlot(int32_t index);
  // Releases the part downloader from the slot that holds it.
  void RemovePartDownloader(const TPartDownloader *PartDownloader);
  void AbortAll();
  void PauseAll();
  // Whether every slot that has a part downloader is in State (true when none has one).
  bool AllInState(TPartDownloaderState State) const;
  bool AllIdle() const { return AllInState(pdsIdle); }
  bool AllPaused() const { return AllInState(pdsPaused); }
  int32_t NumberOfSlotsUsingFileMirror(const TFileMirror *FileMirror) const;

private:
  std::vector<TPartDownloadSlot *> Snapshot() const;

  const TPartDownloadContext &context_;
  std::vector<std::unique_ptr<TPartDownloadSlot>> slots_;
  std::vector<std::unique_ptr<TPartDownloadSlot>> removed_;
};

} // namespace velmora
