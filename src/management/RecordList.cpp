#include "management/RecordList.h"

#include <algorithm>

namespace velmora {

namespace {

template <class Records> auto FindRecord(Records &records, const TLocalDownloadinfo *record) {
  return std::find_if(records.begin(), records.end(),
                      [record](const auto &owned) { return owned.get() == record; });
}

} // namespace

void TRecordList::Append(std::unique_ptr<TLocalDownloadinfo> record) {
  records_.push_back(std::move(record));
}

TLocalDownloadinfo &TRecordList::AddUnlisted(std::unique_ptr<TLocalDownloadinfo> record) {
  TLocalDownloadinfo &added = *record;
  unlisted_.push_back(std::move(record));
  return added;
}

void TRecordList::List(TLocalDownloadinfo &record) {
  const auto unlisted = FindRecord(unlisted_, &record);
  if (unlisted == unlisted_.end())
    return;
  records_.push_back(std::move(*unlisted));
  unlisted_.erase(unlisted);
}

bool TRecordList::Listed(const TLocalDownloadinfo &record) const {
  return FindRecord(records_, &record) != records_.end();
}

TLDIList TRecordList::All() const {
  TLDIList list;
  for (const auto &record : records_)
    list.Add(record.get());
  return list;
}

TLDIList TRecordList::Others(const TLocalDownloadinfo &record) const {
  TLDIList others;
  for (const auto *records : {&records_, &unlisted_})
    for (const auto &other : *records)
      if (other.get() != &record)
        others.Add(other.get());
  return others;
}

bool TRecordList::HasTempFileName(const std::string &tempFileName) const {
  return std::any_of(records_.begin(), records_.end(),
                     [&](const auto &record) { return record->TempFileName == tempFileName; });
}

std::unique_ptr<TLocalDownloadinfo> TRecordList::Take(TLocalDownloadinfo &record) {
  std::unique_ptr<TLocalDownloadinfo> owned;
  for (auto *records : {&records_, &unlisted_}) {
    const auto found = FindRecord(*records, &record);
    if (found != records->end()) {
      owned = std::move(*found);
      records->erase(found);
    }
  }
  return owned;
}

void TRecordList::Retire(std::unique_ptr<TLocalDownloadinfo> record) {
  retired_.push_back(std::move(record));
}

void TRecordList::Release(const TReferred &referred) {
  std::erase_if(retired_, [&](const auto &record) { return !referred(record.get()); });
}

void TRecordList::Clear() {
  retired_.clear();
  unlisted_.clear();
  records_.clear();
}

} // namespace velmora
