#pragma once

#include <cstdint>

namespace velmora {

// One extraction at a time per process: a second one started while the first is running (for
// example from a handler the first one lets run) is refused. A claim whose holder has not been
// heard of for 30 seconds is taken as stale.
class TExtractionClaim {
public:
  TExtractionClaim();
  ~TExtractionClaim();
  TExtractionClaim(const TExtractionClaim &) = delete;
  TExtractionClaim &operator=(const TExtractionClaim &) = delete;

  bool Held() const { return held_; }
  // The holder is still alive: call before each input block.
  void Touch();

private:
  bool held_ = false;
  uint64_t generation_ = 0;
};

} // namespace velmora
