#include "management/DownloadQueue.h"

#include "store/SettingDefinitions.h"

#include <algorithm>

namespace velmora {

void TDownloadQueue::Deactivate(const TDownloader &downloader) {
  const auto found = std::find(active_.begin(), active_.end(), &downloader);
  if (found != active_.end())
    active_.erase(found);
}

bool TDownloadQueue::IsActive(const TDownloader &downloader) const {
  return std::find(active_.begin(), active_.end(), &downloader) != active_.end();
}

TDownloader *TDownloadQueue::Find(const TLocalDownloadinfo *record) const {
  for (TDownloader *downloader : active_)
    if (&downloader->Info == record)
      return downloader;
  return nullptr;
}

int32_t TDownloadQueue::Places() const {
  // Fewer than one place would leave every download queued for ever.
  return fixedPlaces_ ? ClampSetting(setting::MaxSimultaneousDownloads, *fixedPlaces_)
                      : ReadSetting(settings_, setting::MaxSimultaneousDownloads);
}

int32_t TDownloadQueue::Downloading() const {
  return static_cast<int32_t>(std::count_if(active_.begin(), active_.end(),
                                            [this](const TDownloader *d) { return !isJoining_(*d); }));
}

} // namespace velmora
