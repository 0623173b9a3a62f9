#pragma once

#include "platform/EventLoop.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmora::platform {

// What a second copy hands to the running one: its first argument and the desktop's activation
// token (XDG_ACTIVATION_TOKEN or DESKTOP_STARTUP_ID), so the running copy may come to the front.
struct InstanceMessage {
  std::string Argument;
  std::string ActivationToken;
};

inline constexpr std::size_t kInstanceMessageLimit = std::size_t{64} * 1024;

// The frame of a message: magic, version, two length-prefixed texts; empty when it would exceed
// the limit.
std::string EncodeInstanceMessage(const InstanceMessage &message);
// The message of a complete frame; false for anything malformed or oversized. The argument is cut
// at its first NUL.
bool DecodeInstanceMessage(const std::string &frame, InstanceMessage &message);
// Whether the bytes so far can still become a frame within the limit (false: drop the peer), and
// whether they already are one.
enum class FrameProgress { Incomplete, Complete, Invalid };
FrameProgress CheckInstanceFrame(const std::string &bytes);

// Creates the runtime folder 0700 when missing and refuses one that is a link, not ours or open
// to others. Empty when it is safe, else the reason.
std::string EnsurePrivateFolder(const std::string &folder);

// The running copy's end: accepts hand-overs on the loop from processes of our own user only,
// each bounded in size and time, and answers each with one byte 1. Messages that arrive before a
// handler is set are kept (a bounded number) and handed to it when it is set.
class InstanceListener {
public:
  struct Limits {
    uint32_t ReadTimeoutMs = 5000;
    std::size_t MaxConnections = 16;
    std::size_t MaxQueued = 32;
  };
  // Removes socketFile when it ends.
  InstanceListener(EventLoop &loop, int listenFd, std::string socketFile, Limits limits);
  ~InstanceListener();
  InstanceListener(const InstanceListener &) = delete;
  InstanceListener &operator=(const InstanceListener &) = delete;

  void SetHandler(std::function<void(const InstanceMessage &)> handler);

private:
  struct Connection;
  void Accept();
  void Read(Connection &connection);
  void Drop(Connection &connection);
  void Deliver(InstanceMessage message);

  EventLoop &loop_;
  int fd_;
  std::string socketFile_;
  Limits limits_;
  LoopWatch watch_;
  std::vector<std::unique_ptr<Connection>> connections_;
  std::deque<InstanceMessage> queued_;
  std::function<void(const InstanceMessage &)> handler_;
};

enum class InstanceRole { Alone, HandedOver, Failed };

struct InstanceStart {
  InstanceRole Role = InstanceRole::Failed;
  std::string Error;                          // why it failed, in words
  std::unique_ptr<InstanceListener> Listener; // when alone
};

struct InstanceTimeouts {
  uint32_t LockMs = 5000;
  uint32_t AnswerMs = 5000;
};

// Either hands the message to the copy that runs on this runtime folder (HandedOver), or becomes
// that copy and listens (Alone), or says why neither could be done (Failed). The lock on
// "instance.lock" makes check and bind one step, so two copies starting at once never both listen.
InstanceStart StartInstance(EventLoop &loop, const std::string &runtimeFolder, const InstanceMessage &message,
                            InstanceTimeouts timeouts = {}, InstanceListener::Limits limits = {});

} // namespace velmora::platform
