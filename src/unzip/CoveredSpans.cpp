#include "unzip/CoveredSpans.h"

#include <iterator>

namespace velmora::unzip {

bool TCoveredSpans::Claim(uint64_t begin, uint64_t end) {
  if (end <= begin)
    return true; // an empty range shares no byte
  auto next = spans_.lower_bound(begin);
  if (next != spans_.end() && next->first < end)
    return false;
  if (next != spans_.begin() && std::prev(next)->second > begin)
    return false;
  spans_.emplace_hint(next, begin, end);
  return true;
}

} // namespace velmora::unzip
