#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace velmora {

// The words of the joining messages and status, already in the user's language.
struct TCombineTexts {
  std::string CombiningFiles = "Combining files";
  std::string CouldntOpen = "Couldn't open";
  std::string CouldntRead = "Couldn't read";
  std::string CouldntWrite = "Couldn't write";
  std::string FilesizeMismatch = "Filesize mismatch";
};

struct TCombineOutcome {
  bool Combined = false; // the final file is in place and the part files are gone
  std::string Message;   // why not, in the user's language
};

struct TPartJoinJob {
  std::string LocalFileName;
  std::string TempFileName; // stem of the part files: TempFileName + "." + start offset
  int64_t RemoteFileSize;   // -1: unknown, the one part .0 is the whole file
  bool KernelCopy = true;   // copy_file_range into the first part; a read/write copy otherwise
};

// Joins the part files in offset order into LocalFileName, flushes it, and only then deletes the
// part files: with KernelCopy the others are appended to the first part, which is then renamed over
// LocalFileName (a single part that is the whole file is just flushed and renamed); otherwise, or
// when that cannot work (another file system), they are all copied into a temporary file beside
// LocalFileName that is renamed over it. Any failure (a part missing or of the wrong length, a full
// disk) leaves every part file as it was (a first part that a crash left longer than its range is cut
// back by the next start of the download) and an existing LocalFileName untouched, and the join can
// run again. onPercent gets the rounded percentage whenever it changes, at the same points as a copy
// in blocks of 65536 bytes would reach; it runs on the calling thread. A set cancelled flag ends the
// join between two blocks as a failure that leaves nothing.
TCombineOutcome JoinParts(const TPartJoinJob &job, const TCombineTexts &texts,
                          const std::function<void(int percent)> &onPercent,
                          const std::atomic<bool> &cancelled);

// total / size * 100 rounded to the nearest integer, halves to even, in exact integer arithmetic.
int RoundedPercent(int64_t total, int64_t size);

} // namespace velmora
