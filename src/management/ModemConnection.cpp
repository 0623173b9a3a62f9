#include "management/ModemConnection.h"

#include "platform/Tick.h"
#include "shell/ReportError.h"

#include <chrono>
#include <thread>

namespace velmora {

namespace {

struct TEntryListing {
  std::vector<std::string> Names;
  std::string Error;
};

} // namespace

TModemConnection::TModemConnection(platform::EventLoop &loop,
                                   std::shared_ptr<platform::IPointToPointLinks> links,
                                   uint32_t hangUpTimeOutMs, uint32_t pollIntervalMs)
    : links_(std::move(links)), hangUpTimeOutMs_(hangUpTimeOutMs), pollIntervalMs_(pollIntervalMs),
      task_(loop) {
  GuardedVoid("constructor TModemConnection.Create", [&] {
    task_.Run<TEntryListing>(
        [links = links_] {
          TEntryListing listing;
          listing.Names = links->EntryNames(listing.Error);
          return listing;
        },
        [this](TEntryListing listing) {
          if (!listing.Error.empty())
            ReportError("constructor TModemConnection.Create", listing.Error);
          EntryNames = std::move(listing.Names);
          if (OnEntryNamesListed)
            OnEntryNamesListed();
        });
  });
}

void TModemConnection::Disconnect(std::function<void()> done) {
  DisconnectAll([done = std::move(done)](const TDisconnectReport &) {
    if (done)
      done();
  });
}

void TModemConnection::DisconnectAll(std::function<void(const TDisconnectReport &)> done) {
  GuardedVoid("procedure TModemConnection.Disconnect", [&] {
    HangUpRequested = true;
    task_.Run<TDisconnectReport>([links = links_, timeOut = hangUpTimeOutMs_,
                                  poll = pollIntervalMs_] { return HangUpAll(*links, timeOut, poll); },
                                 [done = std::move(done)](const TDisconnectReport &report) {
                                   for (const std::string &failure : report.Failures)
                                     ReportError("procedure TModemConnection.Disconnect", failure);
                                   if (done)
                                     done(report);
                                 });
  });
}

TModemConnection::TDisconnectReport TModemConnection::HangUpAll(platform::IPointToPointLinks &links,
                                                                uint32_t timeOutMs, uint32_t pollIntervalMs) {
  TDisconnectReport report;
  std::string error;
  const std::vector<platform::PointToPointLink> active = links.ActiveLinks(error);
  if (!error.empty())
    report.Failures.push_back(error);
  for (const platform::PointToPointLink &link : active) {
    // Ending one link may take others with it (a connection and its ppp interface).
    if (!links.IsUp(link))
      continue;
    if (std::string refused = links.HangUp(link); !refused.empty()) {
      report.Failures.push_back(link.name + ": " + refused);
      continue;
    }
    const uint64_t deadline = platform::MonotonicMilliseconds() + timeOutMs;
    bool up = links.IsUp(link);
    while (up && platform::MonotonicMilliseconds() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(pollIntervalMs));
      up = links.IsUp(link);
    }
    if (up)
      report.Failures.push_back(link.name + ": still up " + std::to_string(timeOutMs) +
                                " ms after the hang-up");
    else
      report.Ended.push_back(link.name);
  }
  return report;
}

} // namespace velmora
