#include "net/ScriptedServer.h"

#include "platform/Tick.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velmora::testing {

namespace {

void WriteAll(int fd, const std::string &bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (sent <= 0)
      return; // the client went away; the script ends
    done += static_cast<std::size_t>(sent);
  }
}

} // namespace

ScriptedServer::ScriptedServer(std::vector<Script> connections, int deadlineMs) : deadlineMs_(deadlineMs) {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  stopFd_ = eventfd(0, EFD_CLOEXEC);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listenFd_ < 0 || stopFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
      listen(listenFd_, 8) != 0 ||
      getsockname(listenFd_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
    throw std::runtime_error("scripted server: cannot listen");
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this, scripts = std::move(connections)]() mutable { run(std::move(scripts)); });
}

ScriptedServer::~ScriptedServer() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t written = write(stopFd_, &one, sizeof one);
  thread_.join();
  close(listenFd_);
  close(stopFd_);
}

bool ScriptedServer::stopping() const {
  pollfd entry{stopFd_, POLLIN, 0};
  return poll(&entry, 1, 0) > 0;
}

bool ScriptedServer::waitReadable(int fd, int timeoutMs) const {
  pollfd entries[2] = {{fd, POLLIN, 0}, {stopFd_, POLLIN, 0}};
  if (poll(entries, 2, timeoutMs) <= 0)
    return false;
  return entries[1].revents == 0;
}

std::vector<std::string> ScriptedServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::string ScriptedServer::drained() const {
  std::lock_guard lock(mutex_);
  return drained_;
}

void ScriptedServer::run(std::vector<Script> connections) {
  for (const Script &script : connections) {
    if (!waitReadable(listenFd_, deadlineMs_))
      return;
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
      return;
    play(fd, script);
    close(fd);
    ++finished_;
  }
}

void ScriptedServer::play(int fd, const Script &script) {
  const uint64_t deadline = platform::MonotonicMilliseconds() + static_cast<uint64_t>(deadlineMs_);
  auto remaining = [&] {
    const uint64_t now = platform::MonotonicMilliseconds();
    return now >= deadline ? 0 : static_cast<int>(deadline - now);
  };
  std::string lastRequest;
  for (const ScriptStep &step : script) {
    if (stopping())
      return;
    switch (step.kind) {
    case ScriptStep::ReadRequest: {
      std::string request;
      char c;
      while (request.find("\r\n\r\n") == std::string::npos && waitReadable(fd, remaining()) &&
             recv(fd, &c, 1, 0) == 1)
        request += c;
      lastRequest = request;
      std::lock_guard lock(mutex_);
      requests_.push_back(request);
      break;
    }
    case ScriptStep::Send:
      WriteAll(fd, step.data);
      break;
    case ScriptStep::Answer:
      WriteAll(fd, step.answer(lastRequest));
      break;
    case ScriptStep::Pause: {
      pollfd entry{stopFd_, POLLIN, 0};
      poll(&entry, 1, step.milliseconds);
      break;
    }
    case ScriptStep::Close:
      shutdown(fd, SHUT_WR);
      return;
    case ScriptStep::Reset: {
      linger value{1, 0};
      setsockopt(fd, SOL_SOCKET, SO_LINGER, &value, sizeof value);
      return;
    }
    case ScriptStep::Stall:
    case ScriptStep::Drain: {
      char buffer[65536];
      ssize_t got;
      while (waitReadable(fd, remaining()) && (got = recv(fd, buffer, sizeof buffer, 0)) > 0) {
        if (step.kind == ScriptStep::Drain) {
          std::lock_guard lock(mutex_);
          drained_.append(buffer, static_cast<std::size_t>(got));
        }
      }
      return;
    }
    }
  }
}

} // namespace velmora::testing
