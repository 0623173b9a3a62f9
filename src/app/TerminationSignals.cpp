#include "app/TerminationSignals.h"

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace velmora {

TTerminationSignals::TTerminationSignals(platform::EventLoop &loop, std::function<void()> onSignal)
    : watch_(loop) {
  sigset_t mask;
  sigemptyset(&mask);
  sigaddset(&mask, SIGINT);
  sigaddset(&mask, SIGTERM);
  sigaddset(&mask, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &mask, nullptr);
  fd_ = signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC);
  if (fd_ < 0)
    return;
  watch_.start(fd_, platform::EventLoop::ioRead, [this, onSignal = std::move(onSignal)](uint32_t) {
    signalfd_siginfo info{};
    while (read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    }
    onSignal();
  });
}

TTerminationSignals::~TTerminationSignals() {
  watch_.stop();
  if (fd_ >= 0)
    close(fd_);
}

} // namespace velmora
