#pragma once

#include <memory>
#include <string>

namespace velmora {

// One process at a time works on a download record: an flock on "<TempFileName>.lock" beside the
// record file, held while a downloader of that process exists. The record file itself is replaced
// on every save, so a lock on it would not hold. The lock ends with the object, and with the
// process however it ends.
class TRecordLock {
public:
  enum TOutcome { rlLocked, rlInUse, rlFailed };
  struct TAttempt {
    TOutcome Outcome = rlFailed;
    std::unique_ptr<TRecordLock> Lock; // set for rlLocked
    std::string Error;                 // why, for rlFailed
  };

  // Never waits: a lock held by another process (or by another lock of this one) is rlInUse.
  static TAttempt TryLock(const std::string &tempFileName);
  // Whether some lock holds the record now; nothing is created for a record without a lock file.
  static bool InUse(const std::string &tempFileName);
  static std::string LockFileName(const std::string &tempFileName) { return tempFileName + ".lock"; }

  // The lock file goes too when its record file has gone (the record was deleted).
  ~TRecordLock();
  TRecordLock(const TRecordLock &) = delete;
  TRecordLock &operator=(const TRecordLock &) = delete;

private:
  TRecordLock(int fd, std::string tempFileName) : fd_(fd), tempFileName_(std::move(tempFileName)) {}

  int fd_;
  std::string tempFileName_;
};

} // namespace velmora
