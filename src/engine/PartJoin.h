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
  bool KernelCopy = true;   // copy_file_range; read/write otherwise and whenever it fails
};

// Appends the part files in offset order into a temporary file beside LocalFileName, flushes it,
// renames it over LocalFileName and only then deletes the part files (with KernelCopy, a single part
// that is the whole file is flushed and renamed over LocalFileName itself), so that any failure (a part
// missing or of the wrong length, a full disk) leaves every part file and an existing LocalFileName
// as they were, and the join can run again. onPercent gets the rounded percentage whenever it
// changes, at the same points as a copy in blocks of 65536 bytes would reach; it runs on the calling
// thread. A set cancelled flag ends the join between two blocks as a failure that leaves nothing.
TCombineOutcome JoinParts(const TPartJoinJob &job, const TCombineTexts &texts,
                          const std::function<void(int percent)> &onPercent,
                          const std::atomic<bool> &cancelled);

// total / size * 100 rounded to the nearest integer, halves to even, in exact integer arithmetic.
int RoundedPercent(int64_t total, int64_t size);

} // namespace velmora
