#pragma once

#include "engine/FileMirror.h"
#include "shell/Constants.h"
#include "shell/Url.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace velmora {

// The states of one part, passed from part downloader to slot to downloader. The gaps in the
// values are kept so the numbers stay those the rest of the program knows.
enum TPartDownloaderState : int32_t {
  pdsConnecting = 0,    // connecting to the server
  pdsConnected = 1,     // connected, asking for the file
  pdsAuthRequired = 2,  // the server demands credentials
  pdsFileSizeKnown = 4, // RemoteSize has just been learned
  pdsResumeKnown = 5,   // ResumeSupported has just been learned
  pdsDownloading = 6,   // data is arriving
  pdsDone = 7,          // every byte of the range is on disk
  pdsRangeComplete = 9, // the range is full while data still arrives
  pdsError = 10,        // failed; ErrorState and ErrorText say why
  pdsAborted = 11,      // aborted, part file deleted
  pdsPaused = 12,       // paused, part file kept
  pdsIdle = 15,         // stopped for want of a usable mirror (set by the downloader)
};

enum TResumeSupport : int32_t { rsYes, rsNo, rsUnknown };

// Fetches one byte range of a remote file into its part file, continuing after whatever the part
// file already holds. It reports every change of State through OnChange and decides nothing
// else: the slot and the downloader choose mirrors, retry and delete. It can be started again
// with Get after any end, for another range or mirror. Only the loop thread uses it; OnChange may
// stop it, change its range or state, or hand it to the loop's releaseLater.
class TPartDownloader {
public:
  using TChangeEvent = std::function<void(TPartDownloader &Part, TPartDownloaderState State)>;

  // PartFileName is FileName when its name holds a ".", else FileName + "." + StartB.
  TPartDownloader(std::string_view Url, const std::string &FileName, int64_t StartB, int64_t EndB,
                  const TConstants &Words);
  virtual ~TPartDownloader();
  TPartDownloader(const TPartDownloader &) = delete;
  TPartDownloader &operator=(const TPartDownloader &) = delete;

  // Starts or restarts the transfer of the range from the end of the part file.
  virtual void Get() = 0;
  // Ends the transfer and deletes the part file; ends in pdsAborted.
  virtual void Abort();
  // Ends the transfer and keeps the part file; ends in pdsPaused.
  virtual void Pause();
  // Ends the transfer and reports the state it is in.
  virtual void Stop() = 0;
  // Cuts every tie to the slot and ends any transfer without a report; called before the part
  // downloader is released, so nothing of it runs for a slot that no longer holds it.
  virtual void Detach();

  // The downloader's time-out: the part ends in pdsError with "Timeout".
  void TimeOut();
  // The protocol this part downloader speaks ("http", "ftp").
  virtual std::string_view Protocol() const = 0;

  int64_t StartByte;
  int64_t EndByte; // 0 or less: to the end of the file
  std::string PartFileName;
  TUrl Url; // address on the current mirror
  TChangeEvent OnChange;
  int64_t RemoteSize = 0; // size of the remote file as the last response gave it; 0 not known, -1 none sent
  int64_t Received = 0;   // bytes in the part file, those present before the start included
  bool Aborted = false;
  bool Paused = false;
  TFileMirrorError ErrorState = fmeNone;
  std::string ErrorText;
  TResumeSupport ResumeSupported = rsUnknown;
  std::string ResumeText;
  uint32_t LastActivityTick = 0; // tick of the last sign of life; the time-out check reads it
  std::string Realm;             // realm of the last authentication demand
  bool AuthTried = false;        // credentials were already supplied for this part
  TPartDownloaderState State = pdsConnecting;

protected:
  // Calls OnChange with the current State when it is set.
  void Notify();
  // Sets State, ErrorState and ErrorText for a failure.
  void Fail(TFileMirrorError reason, const std::string &text);
  int64_t RangeLength() const { return EndByte - StartByte + 1; }

  const TConstants &Words;
};

// How long a part in State may stay silent (no connect, header line or data since its
// LastActivityTick) before the downloader's time-out check ends it; 0 means no limit. A part still
// connecting gets TimeOutTime when it is the download's only part, else MirrorTimeOutTime, so a
// slow mirror is left quickly; every other state that waits for the server counts like
// downloading, so a server that goes quiet after connecting or after its header is not waited for
// forever. Parts that wait for the user (credentials) or have ended have no limit.
uint32_t TimeOutLimit(TPartDownloaderState State, bool OnlyPart, uint32_t TimeOutTime,
                      uint32_t MirrorTimeOutTime);

// Makes the part downloader that speaks the protocol of a mirror.
class IPartDownloaderFactory {
public:
  virtual ~IPartDownloaderFactory() = default;
  // nullptr for a protocol without a part downloader.
  virtual std::unique_ptr<TPartDownloader>
  CreatePartDownloader(const std::string &Url, const std::string &FileName, int64_t StartB, int64_t EndB) = 0;
};

} // namespace velmora
