#pragma once

#include "engine/SiteManager.h"
#include "shell/Url.h"

#include <string>

namespace velmora {

class TDownloader;
class TPartDownloadSlot;

// What an answer to a credentials demand does to one waiting slot: the download system starts it
// again with the credentials, or fails it with "Couldn't login".
class IAuthAnswers {
public:
  virtual ~IAuthAnswers() = default;
  virtual void SlotAuthenticated(TDownloader &Downloader, TPartDownloadSlot &Slot) = 0;
  virtual void AbortSlotAuthenticated(TDownloader &Downloader, TPartDownloadSlot &Slot) = 0;
};

// The decisions of the credentials dialog. It copies the host's address and the realm when it
// opens and keeps no reference to the slot it was opened for: that slot's download may be gone
// by the time the user answers, and then the answer only stores the credentials. Every slot
// still waiting for this host and realm is answered, whichever dialog was opened for it.
class TAuthFormPresenter {
public:
  TAuthFormPresenter(TSiteManager &sites, IAuthAnswers &answers, const TPartDownloadSlot &slot);

  // lblHost and lblRealm.
  const std::string &Host() const { return url_.Host; }
  const std::string &Realm() const { return realm_; }

  // Stores the credentials and starts every waiting slot again with them.
  void Ok(const std::string &user, const std::string &password);
  // Fails every waiting slot with "Couldn't login".
  void Cancel();

private:
  // Slots that meet the demand again while being answered wait for the next answer.
  std::size_t WaitingNow();

  TSiteManager &sites_;
  IAuthAnswers &answers_;
  TUrl url_;
  std::string realm_;
};

} // namespace velmora
