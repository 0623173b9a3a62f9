#include "management/DownloadForms.h"

#include <algorithm>

namespace velmora {

TDownloadForms::~TDownloadForms() {
  CompleteForm.reset();
  DownloadForm.reset();
  FileInfoForm.reset();
  Joining.reset();
  Downloader.reset();
}

bool TDownloadForms::WindowOpen() const {
  return (FileInfoForm && FileInfoForm->Visible()) || (CompleteForm && CompleteForm->Visible());
}

TDownloadForms &TDownloadFormsList::Add(std::unique_ptr<TDownloadForms> entry) {
  entries_.push_back(std::move(entry));
  return *entries_.back();
}

TDownloadForms *TDownloadFormsList::GetDownloadForms(const TDownloader *downloader) const {
  for (const auto &entry : entries_)
    if (entry->Downloader.get() == downloader)
      return entry.get();
  return nullptr;
}

bool TDownloadFormsList::RefersTo(const TLocalDownloadinfo *record) const {
  return std::any_of(entries_.begin(), entries_.end(), [record](const auto &entry) {
    return entry->Downloader && &entry->Downloader->Info == record;
  });
}

std::vector<std::unique_ptr<TDownloadForms>> TDownloadFormsList::TakeReleased() {
  std::vector<std::unique_ptr<TDownloadForms>> released;
  const auto kept = std::stable_partition(entries_.begin(), entries_.end(),
                                          [](const auto &entry) { return !entry->Released; });
  std::move(kept, entries_.end(), std::back_inserter(released));
  entries_.erase(kept, entries_.end());
  return released;
}

} // namespace velmora
