#pragma once

#include "shell/Url.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace velmora {

// The first failure a mirror produced during one download; anything but fmeNone keeps the mirror
// from being chosen again.
enum TFileMirrorError : int32_t {
  fmeNone = 0,
  fmeConnectionLost = 1,
  fmeCouldntConnect = 2,
  fmeLoginFailed = 3,
  fmeFileNotFound = 4,
  fmeResumeNotSupported = 5,
  fmeSizeMismatch = 6,
};

// Ping time of a mirror that was not measured yet or did not answer.
inline constexpr int32_t kUnmeasuredPingTime = 9999;

// One server that holds the file, with what this download and the server statistics know of it.
struct TFileMirror {
  explicit TFileMirror(std::string_view url);

  TUrl Url;
  int32_t PingTime = kUnmeasuredPingTime;
  TFileMirrorError ErrorState = fmeNone;
  // Remembered bytes per second of the host and of its top domain; 0 when none. 64-bit because a
  // fast local server passes 2 GiB/s.
  int64_t HostAverageRate = 0;
  int64_t DomainAverageRate = 0;
  // Remembered ping of the host and of its top domain; the statistics put 9999 where they know none.
  int32_t HostAveragePing = 0;
  int32_t DomainAveragePing = 0;
};

// The mirrors of one file. The list owns its mirrors; a mirror leaves it only through Extract, which
// is how a looked-up list hands its mirrors to a downloader and how a mirror is re-sorted.
class TMirrorList {
public:
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // The mirror at index, or nullptr (with the error reported) for an index out of range.
  TFileMirror *Get(int32_t index) const;
  // The first mirror whose address text equals url exactly (case and all), or nullptr.
  TFileMirror *GetMirror(std::string_view url) const;
  // Position of mirror in the list, -1 when it is not in it.
  int32_t IndexOf(const TFileMirror *mirror) const;

  TFileMirror *Add(std::unique_ptr<TFileMirror> mirror);
  // Inserts before the first mirror whose ping time is greater than or equal to the newcomer's, so
  // equal ping times put the newcomer first; returns its index (-1 when nothing was inserted).
  int32_t InsertSorted(std::unique_ptr<TFileMirror> mirror);
  // Takes the mirror out of the list and hands it to the caller; nullptr when it is not listed.
  std::unique_ptr<TFileMirror> Extract(const TFileMirror *mirror);
  std::unique_ptr<TFileMirror> Extract(int32_t index);
  // Stable sort by the given order.
  void Sort(const std::function<bool(const TFileMirror &, const TFileMirror &)> &before);
  void DeleteAndFreeAllMirrors();

  const std::vector<std::unique_ptr<TFileMirror>> &Items() const { return items_; }

private:
  std::vector<std::unique_ptr<TFileMirror>> items_;
};

} // namespace velmora
