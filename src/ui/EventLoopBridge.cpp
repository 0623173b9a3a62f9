#include "ui/EventLoopBridge.h"

#include <QAbstractEventDispatcher>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>

namespace velmora {

TEventLoopBridge::TEventLoopBridge(platform::EventLoop &loop, QObject *parent)
    : QObject(parent), loop_(loop), notifier_(loop.pollDescriptor(), QSocketNotifier::Read) {
  connect(&notifier_, &QSocketNotifier::activated, this, [this] { RunRound(); });
#ifndef NDEBUG
  // Qt about to wait while a round runs means a nested Qt loop inside a loop callback.
  if (QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance())
    connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, [this] {
      if (inside_ && !reported_) {
        reported_ = true;
        std::fputs(
            "velmora: a nested Qt event loop was opened inside a loop callback; it runs no loop work\n",
            stderr);
      }
    });
#endif
  // Work registered before Qt's loop starts is seen at its first round: the wake-up makes the
  // descriptor readable whatever else is pending.
  loop_.post([] {});
}

TEventLoopBridge::~TEventLoopBridge() { notifier_.setEnabled(false); }

void TEventLoopBridge::RunRound() {
  if (inside_)
    return;
  inside_ = true;
  // The loop's descriptor stays readable during the round; a nested Qt loop must not spin on it.
  notifier_.setEnabled(false);
  const auto start = std::chrono::steady_clock::now();
  loop_.runOnce(0);
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  longestMs_ = std::max(longestMs_, ms);
  inside_ = false;
  notifier_.setEnabled(true);
}

} // namespace velmora
