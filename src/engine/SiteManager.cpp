#include "engine/SiteManager.h"

#include "shell/ReportError.h"

#include <algorithm>

namespace velmora {

void TAuthInfo::AddWaitingSlot(TWaitingSlot waiting) {
  const bool already = std::any_of(WaitingSlots.begin(), WaitingSlots.end(),
                                   [&](const TWaitingSlot &w) { return w.Slot == waiting.Slot; });
  if (!already)
    WaitingSlots.push_back(waiting);
}

TWaitingSlot TAuthInfo::TakeWaitingSlot() {
  if (WaitingSlots.empty())
    return {};
  TWaitingSlot oldest = WaitingSlots.front();
  WaitingSlots.pop_front();
  return oldest;
}

void TAuthInfo::RemoveWaitingSlot(const TPartDownloadSlot &slot) {
  std::erase_if(WaitingSlots, [&](const TWaitingSlot &w) { return w.Slot == &slot; });
}

void TAuthInfo::RemoveWaitingSlotsOf(const TDownloader &downloader) {
  std::erase_if(WaitingSlots, [&](const TWaitingSlot &w) { return w.Downloader == &downloader; });
}

TAuthInfo *TSiteManager::FindAuthInfo(const std::string &Host, const std::string &Realm) {
  TAuthInfo *first = nullptr;
  TAuthInfo *found = nullptr;
  for (TAuthInfo &entry : entries_) {
    if (entry.Host() != Host)
      continue;
    if (first == nullptr)
      first = &entry;
    if (entry.Realm == Realm)
      found = &entry;
  }
  return found != nullptr ? found : first;
}

bool TSiteManager::AddWaitingSlot(const TUrl &Url, const std::string &Realm, TPartDownloadSlot &Slot,
                                  TDownloader &Downloader) {
  return Guarded(
      "function TSiteManager.AddWaitingSlot(Url : TUrl; Realm : string; Slot : TPartDownloadSlot) : boolean",
      [&] {
        // A part that meets another demand waits for the latest one only.
        RemoveWaitingSlot(Slot);
        TAuthInfo *entry = FindAuthInfo(Url.Host, Realm);
        bool existedIdle = false;
        if (entry == nullptr || entry->Realm != Realm) {
          entries_.emplace_back(Url, Realm);
          entry = &entries_.back();
        } else {
          existedIdle = entry->NumberOfWaitingSlots() == 0;
        }
        entry->AddWaitingSlot({&Downloader, &Slot});
        return existedIdle;
      });
}

TWaitingSlot TSiteManager::NextWaitingSlot(const TUrl &Url, const std::string &Realm) {
  return Guarded("function TSiteManager.NextWaitingSlot(Url : TUrl; Realm : string) : TPartDownloadSlot",
                 [&] {
                   TAuthInfo *entry = FindAuthInfo(Url.Host, Realm);
                   return entry != nullptr ? entry->TakeWaitingSlot() : TWaitingSlot{};
                 });
}

void TSiteManager::RemoveWaitingSlot(const TPartDownloadSlot &Slot) {
  for (TAuthInfo &entry : entries_)
    entry.RemoveWaitingSlot(Slot);
}

void TSiteManager::RemoveWaitingSlotsOf(const TDownloader &Downloader) {
  for (TAuthInfo &entry : entries_)
    entry.RemoveWaitingSlotsOf(Downloader);
}

void TSiteManager::SetCredentials(const TUrl &Url, const std::string &Realm, const std::string &User,
                                  const std::string &Password) {
  GuardedVoid("procedure TSiteManager.SetCredentials(Url : TUrl; Realm, User, Password : string)", [&] {
    if (TAuthInfo *entry = FindAuthInfo(Url.Host, Realm)) {
      entry->SetUser(User);
      entry->SetPassword(Password);
    }
  });
}

std::string TSiteManager::GetUser(const TUrl &Url, const std::string &Realm) {
  return Guarded("function TSiteManager.GetUser(Url : TUrl; Realm : string) : string", [&] {
    const TAuthInfo *entry = FindAuthInfo(Url.Host, Realm);
    return entry != nullptr ? entry->User() : std::string();
  });
}

std::string TSiteManager::GetPassword(const TUrl &Url, const std::string &Realm) {
  return Guarded("function TSiteManager.GetPassword(Url : TUrl; Realm : string) : string", [&] {
    const TAuthInfo *entry = FindAuthInfo(Url.Host, Realm);
    return entry != nullptr ? entry->Password() : std::string();
  });
}

} // namespace velmora
