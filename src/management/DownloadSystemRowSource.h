#pragma once

#include "management/DownloadRows.h"
#include "management/Downloads.h"

namespace velmora {

// The rows of the list over the download system's records and downloaders.
class TDownloadSystemRowSource : public IRowSource {
public:
  explicit TDownloadSystemRowSource(const TDownloadSystem &system) : system_(system) {}
  TLDIList AllRecords() const override { return system_.AllRecords(); }
  std::vector<TDownloader *> ActiveDownloaders() const override { return system_.ActiveDownloaders(); }
  TDownloader *AssociatedDownloader(const TLocalDownloadinfo *record) const override {
    return system_.AssociatedDownloader(record);
  }

private:
  const TDownloadSystem &system_;
};

} // namespace velmora
