#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora {

// How a download is cut into byte ranges and put together again from its part files. The part
// files are the only record of progress: a part starting at offset S is "<TempFileName>.S" and
// holds the bytes of its range from S on. Ranges are inclusive; an end of 0 or less means "to the
// end of the file". The downloader turns these plans into slots.

// One part of a plan, in byte order.
struct TPartPlan {
  int64_t StartByte = 0;
  int64_t EndByte = 0;
  std::string PartFileName;
  int64_t TransferCountCache = 0; // bytes of the range already on disk
  bool Complete = false;          // every byte of the range is on disk; the part needs no start
};

// What the record and the running size request tell a fresh layout.
struct TFreshLayoutInput {
  std::string TempFileName;
  int64_t FileSize = 0;          // the record's size; 0 or -1 when none is known
  int64_t AlreadyFetched = 0;    // what the first slot has already received from offset 0
  int32_t NumParts = 1;          // parts wanted
  int64_t SmallestSplitSize = 0; // kilobytes: only larger files are split
};

// Cuts the file into NumParts ranges, the first one continuing what the first slot already holds.
// Empty when the file is not to be split (unknown size, or not larger than the smallest split
// size): then the first slot fetches the whole file alone. Never makes a part of 0 bytes nor two
// parts with the same start: there are never more parts than bytes left to fetch. The first plan
// entry is the first slot's new range; when no size request is running (a record that was laid
// out before but has no part files left), the downloader starts that slot as well.
std::vector<TPartPlan> FreshLayout(const TFreshLayoutInput &input);

// A part file found on disk.
struct TPartFileEntry {
  int64_t Offset = 0;
  int64_t Size = 0;
  std::string FileName;
};

// The part files of a download, by ascending offset. Only regular files whose extension is a
// decimal number written the way part files are named count: the record file (".dat"), foreign
// extensions, negative or zero-padded numbers and links are ignored.
std::vector<TPartFileEntry> ListPartFiles(const std::string &tempFileName);

// The parts of an interrupted download, from its part files. The first part always starts at 0,
// even when its file is gone, so the data of the others is kept. A part whose file holds its whole
// range is complete; a file longer than its range is cut to it here, since the joining takes each
// part by the length of all before it. Files that start at or beyond a known file size are not
// parts of this file and are left out.
std::vector<TPartPlan> RebuildLayout(const std::string &tempFileName,
                                     const std::vector<TPartFileEntry> &files, int64_t fileSize);

// Whether every byte of the file is on disk: the chain of part files from ".0" on, each found by
// the length of all before it, adds up to fileSize. A download without a known size (fileSize 0
// or -1) has exactly one part, and only its transfer can tell that it ended cleanly:
// unsizedPartDone says so.
bool AllPartsDone(const std::string &tempFileName, int64_t fileSize, bool unsizedPartDone = false);

// That chain of part files in offset order, when it adds up to fileSize (> 0) exactly.
std::optional<std::vector<std::string>> CompletePartFiles(const std::string &tempFileName, int64_t fileSize);

// numerator / denominator rounded to the nearest integer, halves to the even neighbour; exact for
// every 64-bit value. The denominator must not be 0.
int64_t DivideRoundHalfEven(int64_t numerator, int64_t denominator);

} // namespace velmora
