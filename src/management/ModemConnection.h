#pragma once

#include "management/BackgroundTask.h"
#include "platform/EventLoop.h"
#include "platform/PointToPointLinks.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace velmora {

// What the download system needs when the last download has ended: the dial-up links hung up.
// done runs on the loop thread once that is over, never inside the call.
class IDialUpConnection {
public:
  virtual ~IDialUpConnection() = default;
  virtual void Disconnect(std::function<void()> done) = 0;
};

// The dial-up helper: it lists the point-to-point connections (for the configuration dialog) and
// hangs up every active one on request. The links are asked on worker threads, so a slow or stuck
// nmcli never holds the loop; their answers come back through the loop.
class TModemConnection : public IDialUpConnection {
public:
  struct TDisconnectReport {
    std::vector<std::string> Ended;    // names of the links that went down
    std::vector<std::string> Failures; // what could not be done, in words
  };

  // Lists the entries at once (EntryNames fills in when the answer arrives). Each hang-up is
  // waited for until the link is gone, polling every pollIntervalMs, at most hangUpTimeOutMs.
  TModemConnection(platform::EventLoop &loop, std::shared_ptr<platform::IPointToPointLinks> links,
                   uint32_t hangUpTimeOutMs = 30000, uint32_t pollIntervalMs = 100);

  // Hangs up every active point-to-point link, one after the other. Failures are reported
  // (ReportError) and the next link is handled. done runs when all are handled.
  void Disconnect(std::function<void()> done) override;
  // As Disconnect, with the report of what happened.
  void DisconnectAll(std::function<void(const TDisconnectReport &)> done);

  bool HangUpRequested = false; // set by Disconnect, never reset
  std::vector<std::string> EntryNames;
  std::function<void()> OnEntryNamesListed;

private:
  static TDisconnectReport HangUpAll(platform::IPointToPointLinks &links, uint32_t timeOutMs,
                                     uint32_t pollIntervalMs);

  std::shared_ptr<platform::IPointToPointLinks> links_;
  uint32_t hangUpTimeOutMs_;
  uint32_t pollIntervalMs_;
  TBackgroundTask task_; // last, so its channel is cut before anything else goes
};

} // namespace velmora
