#include "mirrors/MirrorPing.h"

#include "net/Ping.h"
#include "shell/ReportError.h"

#include <algorithm>
#include <mutex>
#include <system_error>
#include <thread>

namespace velmora {

// Shared by a ping system and the workers of its pings, so that a worker that finishes after the
// ping system is gone finds out safely and reports nothing.
struct TPingChannel {
  std::mutex mutex;
  platform::EventLoop *loop = nullptr; // guarded by mutex; null once the ping system is gone
  TPingSystem *owner = nullptr;        // loop thread only

  // Any thread: hands the outcome of ping identity to the loop, unless the ping system is gone.
  static void Report(const std::shared_ptr<TPingChannel> &channel, uint64_t identity, TPingOutcome outcome) {
    const std::lock_guard<std::mutex> lock(channel->mutex);
    if (channel->loop == nullptr)
      return;
    channel->loop->post([channel, identity, outcome] {
      if (channel->owner != nullptr)
        channel->owner->deliver(identity, outcome);
    });
  }
};

TPingOutcome IcmpEchoProbe(const std::string &host) {
  TPingOutcome outcome;
  try {
    TPing ping;
    ping.SetTimeout(kMirrorPingTimeout);
    ping.SetTTL(kMirrorPingTTL);
    ping.SetAddress(host);
    outcome.Replied = ping.Ping() == 1;
    outcome.RoundTripTime = ping.Icmp().Reply().RTT;
  } catch (const TICMPException &) {
    // No ICMP socket on this system: the mirror stays unmeasured, which is no error of the download.
  }
  return outcome;
}

int32_t MirrorPingTime(const TPingOutcome &outcome) {
  if (!outcome.Replied || outcome.RoundTripTime > static_cast<uint32_t>(kMirrorPingTimeout))
    return kUnmeasuredPingTime;
  if (outcome.RoundTripTime == 0)
    return 5;
  return static_cast<int32_t>(outcome.RoundTripTime);
}

TMirrorPing::TMirrorPing(TFileMirror &theMirror, uint64_t identity)
    : mirror_(&theMirror), host_(theMirror.Url.Host), identity_(identity) {}

void TMirrorPing::Start(const std::shared_ptr<TPingChannel> &channel, const TEchoProbe &probe) {
  try {
    std::thread(&TMirrorPing::Execute, channel, probe, host_, identity_).detach();
  } catch (const std::system_error &) {
    // No thread to spare: report no reply, so that this ping too reports exactly once.
    TPingChannel::Report(channel, identity_, TPingOutcome{});
  }
}

void TMirrorPing::Execute(const std::shared_ptr<TPingChannel> &channel, const TEchoProbe &probe,
                          const std::string &host, uint64_t identity) {
  const TPingOutcome outcome = Guarded("procedure TMirrorPing.Execute;", [&] { return probe(host); });
  TPingChannel::Report(channel, identity, outcome);
}

void TMirrorPing::UpdatePingTime(const TPingOutcome &outcome) {
  if (mirror_ != nullptr)
    mirror_->PingTime = MirrorPingTime(outcome);
}

TPingSystem::TPingSystem(platform::EventLoop &loop, int32_t maxSimPings, TOwnerCallback onPinged,
                         TEchoProbe probe)
    : maxSimPings_(maxSimPings), onPinged_(std::move(onPinged)), probe_(std::move(probe)),
      channel_(std::make_shared<TPingChannel>()) {
  channel_->loop = &loop;
  channel_->owner = this;
}

TPingSystem::~TPingSystem() {
  channel_->owner = nullptr;
  const std::lock_guard<std::mutex> lock(channel_->mutex);
  channel_->loop = nullptr;
}

void TPingSystem::AddMirror(TFileMirror &mirror) {
  GuardedVoid("procedure TPingSystem.AddMirror(FileMirror : TFileMirror)", [&] {
    // A mirror waits once: a second report for the same mirror would reach its owner twice.
    if (std::find(waiting_.begin(), waiting_.end(), &mirror) != waiting_.end())
      return;
    waiting_.push_back(&mirror);
    StartNewPings();
  });
}

void TPingSystem::AddMirrors(const TMirrorList &mirrors) {
  for (const auto &mirror : mirrors.Items())
    AddMirror(*mirror);
}

void TPingSystem::StartNewPings() {
  GuardedVoid("procedure TPingSystem.StartNewPings", [&] {
    while (static_cast<int64_t>(running_.size()) < maxSimPings_ && running_.size() < waiting_.size()) {
      TFileMirror &next = *waiting_[running_.size()];
      running_.push_back(std::make_unique<TMirrorPing>(next, nextIdentity_++));
      running_.back()->Start(channel_, probe_);
    }
  });
}

void TPingSystem::deliver(uint64_t identity, const TPingOutcome &outcome) {
  const auto found = std::find_if(running_.begin(), running_.end(),
                                  [&](const auto &ping) { return ping->Identity() == identity; });
  if (found == running_.end())
    return;
  TMirrorPing &mirrorPing = **found;
  GuardedVoid("procedure TMirrorPing.UpdatePingTime;", [&] { mirrorPing.UpdatePingTime(outcome); });
  OnPingReply(mirrorPing);
}

void TPingSystem::OnPingReply(TMirrorPing &mirrorPing) {
  GuardedVoid("procedure TPingSystem.OnPingReply(MirrorPing : TMirrorPing)", [&] {
    TFileMirror *mirror = mirrorPing.Mirror();
    const auto waiting = std::find(waiting_.begin(), waiting_.end(), mirror);
    if (waiting != waiting_.end())
      waiting_.erase(waiting);
    mirrorPing.DetachMirror();
    // The owner may end the download, and this ping system with it, inside its callback.
    const std::shared_ptr<TPingChannel> channel = channel_;
    if (onPinged_ && mirror != nullptr)
      onPinged_(*mirror);
    if (channel->owner == nullptr)
      return;
    std::erase_if(running_, [&](const auto &ping) { return ping.get() == &mirrorPing; });
    StartNewPings();
  });
}

std::unique_ptr<IPingSystem> TPingSystemFactory::CreatePingSystem(int32_t maxSimPings,
                                                                  TPingedMirrorCallback onPinged) {
  return std::make_unique<TPingSystem>(loop_, maxSimPings, std::move(onPinged), probe_);
}

} // namespace velmora
