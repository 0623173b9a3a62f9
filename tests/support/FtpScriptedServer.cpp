#include "support/FtpScriptedServer.h"

#include "platform/Tick.h"

#include <arpa/inet.h>
#include <cstdio>
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
  while (fd >= 0 && done < bytes.size()) {
    const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (sent <= 0)
      return; // the client went away; the script goes on and fails where it matters
    done += static_cast<std::size_t>(sent);
  }
}

sockaddr_in Ipv4(const std::string &address, uint16_t port) {
  sockaddr_in result{};
  result.sin_family = AF_INET;
  result.sin_port = htons(port);
  inet_pton(AF_INET, address.c_str(), &result.sin_addr);
  return result;
}

int ListenOnLoopback(uint16_t &port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Ipv4("127.0.0.1", 0);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0 || listen(fd, 8) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
    throw std::runtime_error("scripted FTP server: cannot listen");
  port = ntohs(address.sin_port);
  return fd;
}

// "PORT h1,h2,h3,h4,p1,p2" → the port.
uint16_t PortOfCommand(const std::string &command) {
  int numbers[6] = {};
  if (std::sscanf(command.c_str(), "PORT %d,%d,%d,%d,%d,%d", &numbers[0], &numbers[1], &numbers[2],
                  &numbers[3], &numbers[4], &numbers[5]) != 6)
    return 0;
  return static_cast<uint16_t>(numbers[4] * 256 + numbers[5]);
}

void CloseFd(int &fd) {
  if (fd >= 0)
    close(fd);
  fd = -1;
}

} // namespace

FtpScript operator+(FtpScript first, const FtpScript &second) {
  first.insert(first.end(), second.begin(), second.end());
  return first;
}

FtpScript Logon() {
  return {Reply("220 scripted\r\n"), Command(), Reply("331 pass\r\n"), Command(), Reply("230 in\r\n")};
}

FtpScriptedServer::FtpScriptedServer(std::vector<FtpScript> connections, int deadlineMs)
    : deadlineMs_(deadlineMs) {
  listenFd_ = ListenOnLoopback(port_);
  stopFd_ = eventfd(0, EFD_CLOEXEC);
  deadline_ = platform::MonotonicMilliseconds() + static_cast<uint64_t>(deadlineMs);
  thread_ = std::thread([this, scripts = std::move(connections)]() mutable { run(std::move(scripts)); });
}

FtpScriptedServer::~FtpScriptedServer() {
  const uint64_t one = 1;
  [[maybe_unused]] ssize_t written = write(stopFd_, &one, sizeof one);
  thread_.join();
  close(listenFd_);
  close(stopFd_);
}

int FtpScriptedServer::remaining() const {
  const uint64_t now = platform::MonotonicMilliseconds();
  return now >= deadline_ ? 0 : static_cast<int>(deadline_ - now);
}

bool FtpScriptedServer::waitReadable(int fd, int timeoutMs) const {
  pollfd entries[2] = {{fd, POLLIN, 0}, {stopFd_, POLLIN, 0}};
  if (poll(entries, 2, timeoutMs) <= 0)
    return false;
  return entries[1].revents == 0;
}

std::vector<std::string> FtpScriptedServer::commands() const {
  std::lock_guard lock(mutex_);
  return commands_;
}

void FtpScriptedServer::run(std::vector<FtpScript> connections) {
  for (const FtpScript &script : connections) {
    if (!waitReadable(listenFd_, remaining()))
      return;
    const int control = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (control < 0)
      return;
    play(control, script);
    close(control);
    ++finished_;
  }
}

void FtpScriptedServer::play(int control, const FtpScript &script) {
  int passiveFd = -1;
  int dataFd = -1;
  std::string portCommand;
  for (const FtpStep &step : script) {
    switch (step.kind) {
    case FtpStep::Send:
      WriteAll(control, step.data);
      break;
    case FtpStep::Command: {
      std::string line;
      char c;
      while (line.find('\n') == std::string::npos && line.size() < 8192 &&
             waitReadable(control, remaining()) && recv(control, &c, 1, 0) == 1)
        line += c;
      while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
      if (line.rfind("PORT ", 0) == 0)
        portCommand = line;
      std::lock_guard lock(mutex_);
      commands_.push_back(line);
      break;
    }
    case FtpStep::Passive: {
      CloseFd(passiveFd);
      uint16_t port = 0;
      passiveFd = ListenOnLoopback(port);
      WriteAll(control, "227 Entering Passive Mode (" + step.data + "," + std::to_string(port / 256) + "," +
                            std::to_string(port % 256) + ").\r\n");
      break;
    }
    case FtpStep::AcceptData:
      if (passiveFd >= 0 && waitReadable(passiveFd, remaining())) {
        CloseFd(dataFd);
        dataFd = accept4(passiveFd, nullptr, nullptr, SOCK_CLOEXEC);
      }
      break;
    case FtpStep::ConnectData: {
      CloseFd(dataFd);
      dataFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in from = Ipv4(step.data, 0);
      sockaddr_in to = Ipv4("127.0.0.1", PortOfCommand(portCommand));
      if (bind(dataFd, reinterpret_cast<sockaddr *>(&from), sizeof from) != 0 ||
          connect(dataFd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0)
        CloseFd(dataFd);
      break;
    }
    case FtpStep::SendData:
      WriteAll(dataFd, step.data);
      break;
    case FtpStep::CloseData:
      if (dataFd >= 0)
        shutdown(dataFd, SHUT_WR);
      CloseFd(dataFd);
      break;
    case FtpStep::ResetData: {
      linger value{1, 0};
      if (dataFd >= 0)
        setsockopt(dataFd, SOL_SOCKET, SO_LINGER, &value, sizeof value);
      CloseFd(dataFd);
      break;
    }
    case FtpStep::DrainData: {
      char buffer[65536];
      while (dataFd >= 0 && waitReadable(dataFd, remaining()) && recv(dataFd, buffer, sizeof buffer, 0) > 0) {
      }
      break;
    }
    case FtpStep::Pause: {
      pollfd entry{stopFd_, POLLIN, 0};
      poll(&entry, 1, step.milliseconds);
      break;
    }
    case FtpStep::Close:
      shutdown(control, SHUT_WR);
      CloseFd(dataFd);
      CloseFd(passiveFd);
      return;
    case FtpStep::Stall: {
      char buffer[4096];
      while (waitReadable(control, remaining()) && recv(control, buffer, sizeof buffer, 0) > 0) {
      }
      break;
    }
    }
  }
  CloseFd(dataFd);
  CloseFd(passiveFd);
}

} // namespace velmora::testing
