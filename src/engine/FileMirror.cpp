#include "engine/FileMirror.h"

#include "shell/ReportError.h"

#include <algorithm>
#include <stdexcept>

namespace velmora {

TFileMirror::TFileMirror(std::string_view url) : Url(url) {}

TFileMirror *TMirrorList::Get(int32_t index) const {
  return Guarded("function TMirrorList.Get(Index : Integer) : TFileMirror", [&]() -> TFileMirror * {
    if (index < 0 || index >= Count())
      throw std::out_of_range("mirror index " + std::to_string(index) + " of " + std::to_string(Count()));
    return items_[static_cast<std::size_t>(index)].get();
  });
}

TFileMirror *TMirrorList::GetMirror(std::string_view url) const {
  return Guarded("function TMirrorList.GetMirror(Url : TUrl) : TFileMirror", [&]() -> TFileMirror * {
    for (const auto &mirror : items_)
      if (mirror->Url.Url == url)
        return mirror.get();
    return nullptr;
  });
}

int32_t TMirrorList::IndexOf(const TFileMirror *mirror) const {
  for (std::size_t i = 0; i < items_.size(); ++i)
    if (items_[i].get() == mirror)
      return static_cast<int32_t>(i);
  return -1;
}

TFileMirror *TMirrorList::Add(std::unique_ptr<TFileMirror> mirror) {
  return Guarded("procedure TMirrorList.Add(Mirror : TFileMirror)", [&]() -> TFileMirror * {
    if (!mirror)
      throw std::invalid_argument("no mirror to add");
    items_.push_back(std::move(mirror));
    return items_.back().get();
  });
}

int32_t TMirrorList::InsertSorted(std::unique_ptr<TFileMirror> mirror) {
  return Guarded(
      "procedure TMirrorList.InsertSorted(Mirror : TFileMirror)",
      [&]() -> int32_t {
        if (!mirror)
          throw std::invalid_argument("no mirror to insert");
        const auto place = std::find_if(items_.begin(), items_.end(), [&](const auto &listed) {
          return listed->PingTime >= mirror->PingTime;
        });
        const auto inserted = items_.insert(place, std::move(mirror));
        return static_cast<int32_t>(inserted - items_.begin());
      },
      -1);
}

std::unique_ptr<TFileMirror> TMirrorList::Extract(const TFileMirror *mirror) {
  return Extract(IndexOf(mirror));
}

std::unique_ptr<TFileMirror> TMirrorList::Extract(int32_t index) {
  if (index < 0 || index >= Count())
    return nullptr;
  const auto at = items_.begin() + index;
  std::unique_ptr<TFileMirror> taken = std::move(*at);
  items_.erase(at);
  return taken;
}

void TMirrorList::Sort(const std::function<bool(const TFileMirror &, const TFileMirror &)> &before) {
  std::stable_sort(items_.begin(), items_.end(),
                   [&](const auto &a, const auto &b) { return before(*a, *b); });
}

void TMirrorList::DeleteAndFreeAllMirrors() {
  GuardedVoid("procedure TMirrorList.DeleteAndFreeAllMirrors", [&] { items_.clear(); });
}

} // namespace velmora
