#pragma once

#include "engine/SiteCredentials.h"
#include "shell/Url.h"

#include <cstddef>
#include <deque>
#include <string>

namespace velmora {

class TDownloader;
class TPartDownloadSlot;

// A slot waiting for credentials, with the downloader that owns it (the answer needs both).
struct TWaitingSlot {
  TDownloader *Downloader = nullptr;
  TPartDownloadSlot *Slot = nullptr;
  explicit operator bool() const { return Slot != nullptr; }
};

// The credentials of one host and realm, and the slots waiting for them, oldest first.
class TAuthInfo {
public:
  TAuthInfo(TUrl url, std::string realm) : Url(std::move(url)), Realm(std::move(realm)) {}

  const std::string &Host() const { return Url.Host; }
  const std::string &User() const { return Url.User; }
  const std::string &Password() const { return Url.Password; }
  void SetUser(const std::string &user) { Url.User = user; }
  void SetPassword(const std::string &password) { Url.Password = password; }

  void AddWaitingSlot(TWaitingSlot waiting);
  std::size_t NumberOfWaitingSlots() const { return WaitingSlots.size(); }
  // The oldest waiting slot, taken out of the list; empty when none waits.
  TWaitingSlot TakeWaitingSlot();
  void RemoveWaitingSlot(const TPartDownloadSlot &slot);
  void RemoveWaitingSlotsOf(const TDownloader &downloader);

  TUrl Url; // a copy of the address that first met the demand; its Host names the site
  std::string Realm;

private:
  std::deque<TWaitingSlot> WaitingSlots;
};

// What the user typed per host and realm, for every part of every download of the process, and
// the slots that wait for an answer, so that one answer releases all of them. Hosts compare
// exactly (another letter case is another site). Entries live as long as the manager.
// One per process, owned by whoever builds the engine; loop thread only.
class TSiteManager : public ISiteCredentials {
public:
  // The last entry of Host with this Realm; without one, the first entry of Host (so a part that
  // has not met a demand yet sends what the user gave for the server); nullptr for an unknown host.
  TAuthInfo *FindAuthInfo(const std::string &Host, const std::string &Realm);
  // Adds the slot to the entry of Url's host and exactly this Realm, appending a new entry when
  // there is none. A slot waits in one list only, that of its latest demand. True when the entry existed and
  // nothing waited.
  bool AddWaitingSlot(const TUrl &Url, const std::string &Realm, TPartDownloadSlot &Slot,
                      TDownloader &Downloader);
  // Takes the oldest slot waiting in FindAuthInfo(Url.Host, Realm) out of it.
  TWaitingSlot NextWaitingSlot(const TUrl &Url, const std::string &Realm);
  // A slot whose download is aborted, released or destroyed, or whose range went to a neighbour,
  // waits no longer: an answer must never reach it.
  void RemoveWaitingSlot(const TPartDownloadSlot &Slot);
  void RemoveWaitingSlotsOf(const TDownloader &Downloader);

  void SetCredentials(const TUrl &Url, const std::string &Realm, const std::string &User,
                      const std::string &Password) override;
  std::string GetUser(const TUrl &Url, const std::string &Realm) override;
  std::string GetPassword(const TUrl &Url, const std::string &Realm) override;

private:
  std::deque<TAuthInfo> entries_; // in the order of the first demands; entries never move
};

} // namespace velmora
