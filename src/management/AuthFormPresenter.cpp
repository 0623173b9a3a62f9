#include "management/AuthFormPresenter.h"

#include "engine/PartDownloadSlots.h"

namespace velmora {

TAuthFormPresenter::TAuthFormPresenter(TSiteManager &sites, IAuthAnswers &answers,
                                       const TPartDownloadSlot &slot)
    : sites_(sites), answers_(answers), url_(slot.Mirror != nullptr ? slot.Mirror->Url : TUrl("")),
      realm_(slot.Realm) {}

std::size_t TAuthFormPresenter::WaitingNow() {
  const TAuthInfo *entry = sites_.FindAuthInfo(url_.Host, realm_);
  return entry != nullptr ? entry->NumberOfWaitingSlots() : 0;
}

void TAuthFormPresenter::Ok(const std::string &user, const std::string &password) {
  sites_.SetCredentials(url_, realm_, user, password);
  for (std::size_t left = WaitingNow(); left > 0; --left) {
    const TWaitingSlot waiting = sites_.NextWaitingSlot(url_, realm_);
    if (!waiting)
      break;
    if (waiting.Slot->Mirror != nullptr) {
      waiting.Slot->Mirror->Url.User = user;
      waiting.Slot->Mirror->Url.Password = password;
    }
    answers_.SlotAuthenticated(*waiting.Downloader, *waiting.Slot);
  }
}

void TAuthFormPresenter::Cancel() {
  for (std::size_t left = WaitingNow(); left > 0; --left) {
    const TWaitingSlot waiting = sites_.NextWaitingSlot(url_, realm_);
    if (!waiting)
      break;
    // A slot of another realm came through the host's fallback entry: it is answered as the rest,
    // since out of the list nothing would ever release it, but it ends the walk.
    const bool otherRealm = waiting.Slot->Realm != realm_;
    answers_.AbortSlotAuthenticated(*waiting.Downloader, *waiting.Slot);
    if (otherRealm)
      break;
  }
}

} // namespace velmora
