#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>

namespace velmora::testing {

// A TLS server on 127.0.0.1 for the ends no real server shows: each connection gets the handshake,
// has its request read, gets reply written inside TLS, and is then ended as told. Runs on a
// thread of its own with bounded waits; the destructor stops it.
class TlsScriptedServer {
public:
  enum Ending {
    closeNotify, // a proper end: close_notify, then the TCP close
    abrupt,      // the TCP connection closes without close_notify
    garbage      // bytes that are no TLS record follow on the connection, then the close
  };

  TlsScriptedServer(const std::filesystem::path &certificate, const std::filesystem::path &key,
                    std::string reply, Ending ending);
  ~TlsScriptedServer();
  TlsScriptedServer(const TlsScriptedServer &) = delete;
  TlsScriptedServer &operator=(const TlsScriptedServer &) = delete;

  uint16_t port() const { return port_; }
  std::string url(const std::string &path) const;
  int served() const { return served_.load(); }

private:
  void run(std::string certificate, std::string key);
  void serve(void *context, int fd);

  std::string reply_;
  Ending ending_;
  int listenFd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> served_{0};
  std::thread thread_;
};

} // namespace velmora::testing
