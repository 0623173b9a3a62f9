#pragma once

#include "engine/Downloader.h"
#include "store/LocalDownloadInfo.h"
#include "store/Registry.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace velmora {

// The places of the download system: which downloaders are active, how many of them take a place
// (those joining their parts do not), and whether one more may start against
// MaxSimultaneousDownloads. Queued records wait in list order for a free place.
class TDownloadQueue {
public:
  using TIsJoining = std::function<bool(const TDownloader &downloader)>;

  // fixedPlaces: velmora-get's count for this run in place of the setting.
  TDownloadQueue(const TSettingsStore &settings, std::optional<int32_t> fixedPlaces, TIsJoining isJoining)
      : settings_(settings), fixedPlaces_(fixedPlaces), isJoining_(std::move(isJoining)) {}

  void Activate(TDownloader &downloader) { active_.push_back(&downloader); }
  void Deactivate(const TDownloader &downloader);
  bool IsActive(const TDownloader &downloader) const;
  TDownloader *Find(const TLocalDownloadinfo *record) const;
  const std::vector<TDownloader *> &Active() const { return active_; }
  void Clear() { active_.clear(); }

  int32_t Places() const;
  int32_t Downloading() const;
  bool PlaceFree() const { return Downloading() < Places(); }
  // More downloads take a place than there are places.
  bool Overfull() const { return Places() < Downloading(); }
  // Whether the record waits for a place.
  static bool Waits(const TLocalDownloadinfo &record) { return record.StatusState == TStatusState::Queued; }

private:
  const TSettingsStore &settings_;
  std::optional<int32_t> fixedPlaces_;
  TIsJoining isJoining_;
  std::vector<TDownloader *> active_;
};

} // namespace velmora
