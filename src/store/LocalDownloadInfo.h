#pragma once

#include "platform/FileContents.h"
#include "shell/Constants.h"
#include "shell/Url.h"
#include "store/RecordDateTime.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

namespace platform {
class LoopTimer;
}

class TCategory;
class TCategoryList;

// What download records need from their surroundings; it outlives every record made with it.
struct TRecordContext {
  const TConstants &Words;
  TTranslate Translate;                                // English status words of record files to shown text
  const TCategoryList *Categories = nullptr;           // none: records load without a category
  std::function<std::string()> PartialDownloadsFolder; // asked each time a new record needs a name
  std::function<TDateTime()> Now = NowLocal;
  TDateOrder DateOrder = LocaleDateOrder(); // how older files wrote their dates
};

// One download the program knows about, finished or not, with its record file TempFileName.dat
// in the partial-downloads folder.
class TLocalDownloadinfo {
public:
  // Reads TempFileName.dat (a missing file gives a new record); an empty tempFileName gets a fresh
  // one in the partial-downloads folder.
  TLocalDownloadinfo(TUrl url, std::string tempFileName, const TRecordContext &context);
  TLocalDownloadinfo(const TLocalDownloadinfo &) = delete;
  TLocalDownloadinfo &operator=(const TLocalDownloadinfo &) = delete;

  // Sets the text and its StatusState. Leaving an active status ("Downloading", "Contacting host",
  // "Getting file info") stamps LastActivity.
  void SetStatus(std::string_view value);
  // The state with the vocabulary's word for it (OtherError keeps the text there is).
  void SetStatus(TStatusState state);
  // Replaces the record file atomically with the record's keys (other keys of the file stay).
  // Refuses, leaving the file as it was, a record whose file could not be read, one without a
  // name, and values holding line breaks, which the file could not give back.
  [[nodiscard]] platform::FileResult SaveDatFile() const;
  platform::FileResult DeleteDatFile() const;
  // Deletes every TempFileName.* except the record file and its lock file, and TempFileName itself.
  platform::FileResult DeletePartFiles() const;

  std::string DatFileName() const { return TempFileName + ".dat"; }
  bool IsDone() const { return StatusState == TStatusState::Done; }
  // A record file that was there but gave no usable record: it is kept on disk, never rewritten.
  bool Damaged() const { return !LoadError.empty(); }

  std::string Status; // shown as it is; logic asks StatusState
  TStatusState StatusState = TStatusState::Idle;
  TStatusCode StatusImage = 0;
  TUrl Url;
  std::string LocalFileName;
  platform::LoopTimer *RetryTimer = nullptr; // owned by the download system
  int32_t RetryCountdown = 0;
  int64_t FileSize = 0;    // 0 or -1 when unknown
  int64_t NumOfParts = -1; // -1 until the file size has been asked for
  std::string TempFileName;
  TCategory *Category = nullptr;
  TDateTime LastActivity = 0;
  TDateTime Created = 0;
  std::string Description;
  std::string LoadError; // why the record file could not be used; empty when it loaded or is new

private:
  void Load();
  std::string StoredStatus() const;

  const TRecordContext &context_;
};

// An ordered list of records it does not own. Every filter returns a new list in list order.
class TLDIList {
public:
  TLDIList() = default;
  explicit TLDIList(std::vector<TLocalDownloadinfo *> records) : records_(std::move(records)) {}

  void Add(TLocalDownloadinfo *record) { records_.push_back(record); }
  TLocalDownloadinfo *Get(size_t index) const { return index < records_.size() ? records_[index] : nullptr; }
  void Remove(const TLocalDownloadinfo *record);
  size_t Count() const { return records_.size(); }
  auto begin() const { return records_.begin(); }
  auto end() const { return records_.end(); }

  TLDIList GetByCategory(const TCategory *category) const;
  TLDIList GetWithCategory() const;
  TLDIList GetNotDone() const;
  TLDIList GetByStatus(std::string_view status) const;
  TLDIList GetByStatus(TStatusState state) const;
  // The last record waiting on that retry timer.
  TLocalDownloadinfo *GetByTimer(const platform::LoopTimer *timer) const;
  TLDIList GetDoneSince(TDateTime moment) const;
  // Whether a record uses fileName as its local file name, ignoring case.
  bool FileInUse(std::string_view fileName) const;

private:
  template <class Predicate> TLDIList Filter(Predicate keep) const;

  std::vector<TLocalDownloadinfo *> records_;
};

// A free base name (no extension) in tempDir, which is created when missing; empty on failure.
std::string GetTempFileName(const std::string &tempDir);
// numberOfAlphaNums characters from "0"-"9" and "A"-"Y", "A"-"G" twice as likely as the others.
std::string GenerateRandomAlphaNums(int32_t numberOfAlphaNums);

} // namespace velmora
