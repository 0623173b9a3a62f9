#pragma once

#include "store/LocalDownloadInfo.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

// Owns every download record: those of the list (in load order, then adding order), new ones not
// yet listed (waiting for their Save As choice), and retired ones that left the list while a
// downloader still refers to them.
class TRecordList {
public:
  using TReferred = std::function<bool(const TLocalDownloadinfo *record)>;

  // A record loaded from its file joins the list.
  void Append(std::unique_ptr<TLocalDownloadinfo> record);
  // A new record, owned from now on, joins the list only through List.
  TLocalDownloadinfo &AddUnlisted(std::unique_ptr<TLocalDownloadinfo> record);
  // A new record joins the list; a listed one stays where it is.
  void List(TLocalDownloadinfo &record);
  bool Listed(const TLocalDownloadinfo &record) const;

  // The list, in order.
  TLDIList All() const;
  // Listed and unlisted records except this one.
  TLDIList Others(const TLocalDownloadinfo &record) const;
  bool HasTempFileName(const std::string &tempFileName) const;

  // Takes the record out of the list (or out of the unlisted); null when it holds neither.
  std::unique_ptr<TLocalDownloadinfo> Take(TLocalDownloadinfo &record);
  // Keeps a record that left the list until Release finds nothing refers to it.
  void Retire(std::unique_ptr<TLocalDownloadinfo> record);
  void Release(const TReferred &referred);
  void Clear();

private:
  std::vector<std::unique_ptr<TLocalDownloadinfo>> records_;
  std::vector<std::unique_ptr<TLocalDownloadinfo>> unlisted_;
  std::vector<std::unique_ptr<TLocalDownloadinfo>> retired_;
};

} // namespace velmora
