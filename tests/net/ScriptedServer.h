#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velmora::testing {

// One step of what the scripted server does on a connection.
struct ScriptStep {
  enum Kind {
    ReadRequest, // reads up to and including the blank line that ends a request header
    Send,        // writes the bytes
    Pause,       // waits the milliseconds
    Close,       // orderly close
    Reset,       // close with a reset
    Stall,       // does nothing more until the peer closes or the server stops
    Drain,       // reads everything until the peer closes
    Answer       // writes what answer makes of the request the last ReadRequest read
  };
  Kind kind;
  std::string data;
  int milliseconds = 0;
  std::function<std::string(const std::string &request)> answer = {};
};

inline ScriptStep ReadRequest() { return {ScriptStep::ReadRequest, {}, 0}; }
inline ScriptStep Send(std::string bytes) { return {ScriptStep::Send, std::move(bytes), 0}; }
inline ScriptStep Pause(int milliseconds) { return {ScriptStep::Pause, {}, milliseconds}; }
inline ScriptStep CloseConnection() { return {ScriptStep::Close, {}, 0}; }
inline ScriptStep ResetConnection() { return {ScriptStep::Reset, {}, 0}; }
inline ScriptStep Stall() { return {ScriptStep::Stall, {}, 0}; }
inline ScriptStep Drain() { return {ScriptStep::Drain, {}, 0}; }
inline ScriptStep Answer(std::function<std::string(const std::string &request)> answer) {
  return {ScriptStep::Answer, {}, 0, std::move(answer)};
}

using Script = std::vector<ScriptStep>;

// A misbehaving server on 127.0.0.1 for what no real server shows: it accepts one connection per
// script, in order, and plays the script on it. Runs on a thread of its own with bounded waits;
// the destructor stops it. After the last step the connection is closed.
class ScriptedServer {
public:
  explicit ScriptedServer(std::vector<Script> connections, int deadlineMs = 20000);
  ~ScriptedServer();
  ScriptedServer(const ScriptedServer &) = delete;
  ScriptedServer &operator=(const ScriptedServer &) = delete;

  uint16_t port() const { return port_; }
  // The request headers read on each connection, in order.
  std::vector<std::string> requests() const;
  // Bytes read by Drain steps, all connections together.
  std::string drained() const;
  // Connections whose script has run to its end.
  int finishedConnections() const { return finished_.load(); }

private:
  void run(std::vector<Script> connections);
  void play(int fd, const Script &script);
  // Waits until fd is readable (or the stop signal or deadline comes); false when stopping.
  bool waitReadable(int fd, int timeoutMs) const;
  bool stopping() const;

  int listenFd_ = -1;
  int stopFd_ = -1;
  uint16_t port_ = 0;
  int deadlineMs_;
  std::atomic<int> finished_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::string drained_;
  std::thread thread_;
};

} // namespace velmora::testing
