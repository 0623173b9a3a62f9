#include "unzip/ExtractionClaim.h"

#include "platform/Tick.h"

#include <mutex>

namespace velmora {

namespace {

constexpr uint32_t kStaleAfterMs = 30000;

struct TClaimState {
  std::mutex lock;
  bool running = false;
  uint32_t lastTouch = 0;
  uint64_t generation = 0; // tells a stale holder that its claim was taken over
};

TClaimState &State() {
  static TClaimState state;
  return state;
}

} // namespace

TExtractionClaim::TExtractionClaim() {
  TClaimState &state = State();
  std::lock_guard guard(state.lock);
  if (state.running && platform::TicksSince(state.lastTouch) < kStaleAfterMs)
    return;
  state.running = true;
  state.lastTouch = platform::GetTickCount();
  generation_ = ++state.generation;
  held_ = true;
}

TExtractionClaim::~TExtractionClaim() {
  if (!held_)
    return;
  TClaimState &state = State();
  std::lock_guard guard(state.lock);
  if (state.generation == generation_)
    state.running = false;
}

void TExtractionClaim::Touch() {
  TClaimState &state = State();
  std::lock_guard guard(state.lock);
  if (state.generation == generation_)
    state.lastTouch = platform::GetTickCount();
}

} // namespace velmora
