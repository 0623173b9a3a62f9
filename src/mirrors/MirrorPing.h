#pragma once

#include "engine/FileMirror.h"
#include "engine/MirrorSeams.h"
#include "platform/EventLoop.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

// What one echo to a mirror's host gave.
struct TPingOutcome {
  bool Replied = false;
  uint32_t RoundTripTime = 0; // milliseconds
};

// Sends one echo to host and waits for it; runs on a worker thread, several at once.
using TEchoProbe = std::function<TPingOutcome(const std::string &host)>;

// The fixed values of a mirror ping.
inline constexpr int32_t kMirrorPingTimeout = 1000;
inline constexpr int32_t kMirrorPingTTL = 255;

// The real probe: one ICMP echo with the fixed time-out and TTL. A host that does not resolve or a
// system that permits no ICMP socket gives no reply.
TPingOutcome IcmpEchoProbe(const std::string &host);

// The ping time a mirror gets for an outcome: 9999 for no reply or one slower than the time-out,
// and never 0, so a measured mirror always ranks as measured.
int32_t MirrorPingTime(const TPingOutcome &outcome);

struct TPingChannel;

// One ping of one mirror. The echo runs on a worker thread that only ever touches the host name it
// was given and the channel; its outcome reaches the loop thread through post.
class TMirrorPing {
public:
  TMirrorPing(TFileMirror &theMirror, uint64_t identity);

  // Starts the worker; when no thread can be started, the ping reports no reply all the same.
  void Start(const std::shared_ptr<TPingChannel> &channel, const TEchoProbe &probe);
  // Loop thread: stores the ping time of the outcome in the mirror.
  void UpdatePingTime(const TPingOutcome &outcome);

  TFileMirror *Mirror() const { return mirror_; }
  void DetachMirror() { mirror_ = nullptr; }
  uint64_t Identity() const { return identity_; }

private:
  // The thread keeps its own copies of the arguments for as long as it runs.
  static void Execute(const std::shared_ptr<TPingChannel> &channel, const TEchoProbe &probe,
                      const std::string &host, uint64_t identity);

  TFileMirror *mirror_;
  std::string host_;
  uint64_t identity_;
};

// Pings the mirrors of one download, at most MaxSimPings at a time, in the order they were added.
// Loop thread only, apart from the workers of its pings.
class TPingSystem : public IPingSystem {
public:
  using TOwnerCallback = TPingedMirrorCallback;

  TPingSystem(platform::EventLoop &loop, int32_t maxSimPings, TOwnerCallback onPinged,
              TEchoProbe probe = IcmpEchoProbe);
  // Workers still running finish on their own; what they report afterwards is dropped.
  ~TPingSystem() override;
  TPingSystem(const TPingSystem &) = delete;
  TPingSystem &operator=(const TPingSystem &) = delete;

  void AddMirror(TFileMirror &mirror) override;
  void AddMirrors(const TMirrorList &mirrors) override;
  void StartNewPings();

  int32_t MaxSimPings() const { return maxSimPings_; }
  std::size_t RunningCount() const { return running_.size(); }
  std::size_t WaitingCount() const { return waiting_.size(); }

private:
  friend struct TPingChannel;
  void deliver(uint64_t identity, const TPingOutcome &outcome);
  void OnPingReply(TMirrorPing &mirrorPing);

  int32_t maxSimPings_;
  TOwnerCallback onPinged_;
  TEchoProbe probe_;
  std::shared_ptr<TPingChannel> channel_;
  std::vector<TFileMirror *> waiting_; // not owned; the first RunningCount() ones are being pinged
  std::vector<std::unique_ptr<TMirrorPing>> running_;
  uint64_t nextIdentity_ = 1;
};

// Makes the ping systems of the downloads, all on one loop and with one probe.
class TPingSystemFactory : public IPingSystemFactory {
public:
  explicit TPingSystemFactory(platform::EventLoop &loop, TEchoProbe probe = IcmpEchoProbe)
      : loop_(loop), probe_(std::move(probe)) {}
  std::unique_ptr<IPingSystem> CreatePingSystem(int32_t maxSimPings, TPingedMirrorCallback onPinged) override;

private:
  platform::EventLoop &loop_;
  TEchoProbe probe_;
};

} // namespace velmora
