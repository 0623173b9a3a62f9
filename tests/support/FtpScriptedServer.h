#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velmora::testing {

// One step of what the scripted FTP server does on a control connection.
struct FtpStep {
  enum Kind {
    Send,        // writes the bytes on the control connection
    Command,     // reads one command line and records it
    Passive,     // listens for a data connection on 127.0.0.1 and sends the 227 reply naming it,
                 // with the address numbers given in data (the client must ignore them)
    AcceptData,  // takes the data connection of the last Passive step
    ConnectData, // connects to the address of the last PORT command, from the address in data
    SendData,    // writes the bytes on the data connection
    CloseData,   // orderly close of the data connection
    ResetData,   // close of the data connection with a reset
    DrainData,   // reads the data connection until the client closes it
    Pause,       // waits the milliseconds
    Close,       // closes the control connection
    Stall        // does nothing more until the client closes the control connection
  };
  Kind kind;
  std::string data;
  int milliseconds = 0;
};

inline FtpStep Reply(std::string bytes) { return {FtpStep::Send, std::move(bytes), 0}; }
inline FtpStep Command() { return {FtpStep::Command, {}, 0}; }
inline FtpStep PassiveReply(std::string addressNumbers = "127,0,0,1") {
  return {FtpStep::Passive, std::move(addressNumbers), 0};
}
inline FtpStep AcceptData() { return {FtpStep::AcceptData, {}, 0}; }
inline FtpStep ConnectData(std::string fromAddress = "127.0.0.1") {
  return {FtpStep::ConnectData, std::move(fromAddress), 0};
}
inline FtpStep SendData(std::string bytes) { return {FtpStep::SendData, std::move(bytes), 0}; }
inline FtpStep CloseData() { return {FtpStep::CloseData, {}, 0}; }
inline FtpStep ResetData() { return {FtpStep::ResetData, {}, 0}; }
inline FtpStep DrainData() { return {FtpStep::DrainData, {}, 0}; }
inline FtpStep Wait(int milliseconds) { return {FtpStep::Pause, {}, milliseconds}; }
inline FtpStep CloseControl() { return {FtpStep::Close, {}, 0}; }
inline FtpStep StallControl() { return {FtpStep::Stall, {}, 0}; }

using FtpScript = std::vector<FtpStep>;

// The steps of first, then those of second.
FtpScript operator+(FtpScript first, const FtpScript &second);

// The usual greeting and a logon with user and password, as script steps.
FtpScript Logon();

// A misbehaving FTP server on 127.0.0.1 for what no real server shows: it accepts one control
// connection per script, in order, and plays the script on it, recording every command it reads.
// It runs on a thread of its own with bounded waits; the destructor stops it.
class FtpScriptedServer {
public:
  explicit FtpScriptedServer(std::vector<FtpScript> connections, int deadlineMs = 20000);
  ~FtpScriptedServer();
  FtpScriptedServer(const FtpScriptedServer &) = delete;
  FtpScriptedServer &operator=(const FtpScriptedServer &) = delete;

  uint16_t port() const { return port_; }
  // Every command read, all connections together, without line ends.
  std::vector<std::string> commands() const;
  // Connections whose script has run to its end.
  int finishedConnections() const { return finished_.load(); }

private:
  void run(std::vector<FtpScript> connections);
  void play(int control, const FtpScript &script);
  bool waitReadable(int fd, int timeoutMs) const;
  int remaining() const;

  int listenFd_ = -1;
  int stopFd_ = -1;
  uint16_t port_ = 0;
  int deadlineMs_;
  uint64_t deadline_ = 0;
  std::atomic<int> finished_{0};
  mutable std::mutex mutex_;
  std::vector<std::string> commands_;
  std::thread thread_;
};

} // namespace velmora::testing
