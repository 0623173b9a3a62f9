#pragma once

#include "platform/EventLoop.h"

#include <QObject>
#include <QSocketNotifier>

namespace velmora {

// Drives the core's event loop from Qt's: one socket notifier on the loop's descriptor runs one
// round of it, so QApplication::exec() serves sockets, timers, posted work and the GUI on one
// thread. The loop's round is never re-entered: while one runs (a loop callback opened a nested Qt
// loop) the notifier does nothing, and a debug build reports the nested loop.
class TEventLoopBridge : public QObject {
public:
  explicit TEventLoopBridge(platform::EventLoop &loop, QObject *parent = nullptr);
  ~TEventLoopBridge() override;

  bool InsideRound() const { return inside_; }
  // The longest round so far in milliseconds (for the benchmarks).
  double LongestRoundMs() const { return longestMs_; }

private:
  void RunRound();

  platform::EventLoop &loop_;
  QSocketNotifier notifier_;
  bool inside_ = false;
  bool reported_ = false;
  double longestMs_ = 0;
};

} // namespace velmora
