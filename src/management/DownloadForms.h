#pragma once

#include "engine/CombineParts.h"
#include "engine/Downloader.h"
#include "management/DownloadSystemUi.h"
#include "store/LocalDownloadInfo.h"

#include <memory>
#include <vector>

namespace velmora {

// One downloader with the windows that show it, and while it joins its parts the joining. The
// entry owns them all; destroying it destroys the windows first, then stops the joining, then the
// downloader.
struct TDownloadForms {
  TDownloadForms() = default;
  ~TDownloadForms();
  TDownloadForms(const TDownloadForms &) = delete;
  TDownloadForms &operator=(const TDownloadForms &) = delete;

  // Whether a window of this entry is open for the user, so it must not be destroyed yet.
  bool WindowOpen() const;

  std::unique_ptr<TDownloader> Downloader;
  std::unique_ptr<TCombineParts> Joining;
  std::unique_ptr<IFileInfoWindow> FileInfoForm;
  std::unique_ptr<IDownloadWindow> DownloadForm;
  std::unique_ptr<ICompleteWindow> CompleteForm;
  bool Released = false; // destroyed at the next turn of the loop
};

// The entries of every downloader that exists, in the order they were made.
class TDownloadFormsList {
public:
  TDownloadForms &Add(std::unique_ptr<TDownloadForms> entry);
  // The entry of that downloader, or nullptr.
  TDownloadForms *GetDownloadForms(const TDownloader *downloader) const;
  // Whether a downloader of some entry works for that record.
  bool RefersTo(const TLocalDownloadinfo *record) const;
  // Takes every released entry out of the list.
  std::vector<std::unique_ptr<TDownloadForms>> TakeReleased();
  std::size_t Count() const { return entries_.size(); }
  void Clear() { entries_.clear(); }

private:
  std::vector<std::unique_ptr<TDownloadForms>> entries_;
};

} // namespace velmora
