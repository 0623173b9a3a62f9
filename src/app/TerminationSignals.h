#pragma once

#include "platform/EventLoop.h"

#include <functional>

namespace velmora {

// Ctrl-C, termination and hang-up of the terminal as loop events, so a download can pause cleanly
// instead of dying in the middle of a write. Create it before any worker thread starts: the
// signals are blocked for the threads made afterwards.
class TTerminationSignals {
public:
  TTerminationSignals(platform::EventLoop &loop, std::function<void()> onSignal);
  ~TTerminationSignals();
  TTerminationSignals(const TTerminationSignals &) = delete;
  TTerminationSignals &operator=(const TTerminationSignals &) = delete;

private:
  platform::LoopWatch watch_;
  int fd_ = -1;
};

} // namespace velmora
