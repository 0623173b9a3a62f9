#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <sys/types.h>
#include <vector>

namespace velmora::testing {

// How to start a real server for a test.
struct PeerOptions {
  std::string name;                 // for messages, e.g. "nginx"
  std::vector<std::string> command; // the program (found on PATH and in the sbin folders) and its arguments
  std::vector<std::string> environment; // NAME=VALUE entries added to the test's own environment
  std::filesystem::path folder;         // working folder; the peer's output goes to peer.log in it
  uint16_t port = 0;                    // ready once address:port accepts a connection
  std::string address = "127.0.0.1";
  // When the test runs as root, the peer runs as this user and the folder is handed to it, so
  // servers that refuse to run as root (or drop to another user) can still use the folder.
  std::string unprivilegedUser;
  uint32_t readyDeadlineMs = 15000;
};

// A server process started by a test: it runs until the destructor stops it by its own process
// id (SIGTERM, then SIGKILL after a bounded wait), and dies with the test process if that ends
// first. The constructor returns once the server accepts connections, and throws
// std::runtime_error with the peer's output when it fails to start or is missing.
class Peer {
public:
  explicit Peer(PeerOptions options);
  ~Peer();
  Peer(const Peer &) = delete;
  Peer &operator=(const Peer &) = delete;

  pid_t pid() const { return pid_; }
  uint16_t port() const { return options_.port; }
  const std::filesystem::path &folder() const { return options_.folder; }
  std::string output() const;
  void stop();

private:
  void waitUntilReady();

  PeerOptions options_;
  pid_t pid_ = -1;
};

// A port on 127.0.0.1 that was free a moment ago.
uint16_t FreeLoopbackPort();

// The full path of a program on PATH or in /usr/sbin and /sbin; throws when it is not installed.
std::string FindProgram(const std::string &name);

// Replaces every {{NAME}} in text by its value; throws on a placeholder left without a value.
std::string FillTemplate(std::string text, const std::map<std::string, std::string> &values);

// A file of tests/peers (configuration templates and fixed files of the peers).
std::string ReadPeerFile(const std::string &name);

} // namespace velmora::testing
