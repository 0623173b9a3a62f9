#pragma once

#include "engine/FileMirror.h"
#include "engine/MirrorSeams.h"
#include "mirrors/StatisticsPages.h"
#include "platform/FileContents.h"
#include "platform/Paths.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// Where the statistics and their report pages live.
struct TServerStatsFiles {
  std::string StatsFile; // "serverstats.txt"
  std::string PingPage;  // "StatisticsPing.html"
  std::string SpeedPage; // "StatisticsSpeed.html"
  static TServerStatsFiles Of(const platform::Paths &paths);
};

// How fast servers answered pings and delivered data, per host and per top domain, remembered
// across runs. Each list holds at most 100 records in ascending order of average ping. Loop thread
// only; every sample that changes something rewrites the file at once.
class TServerStats : public IMirrorStatistics {
public:
  static constexpr std::size_t kMaxRecords = 100;

  explicit TServerStats(TServerStatsFiles files) : files_(std::move(files)) {}

  // Reads the statistics file when there is one. A damaged file gives what could be read of it.
  void Load();
  // A ping sample for host and its top domain: 0 <= milliseconds < 9999, else ignored.
  void AddPing(std::string_view host, int32_t milliseconds);
  // A speed sample for host and its top domain, where they have a record already.
  void AddSpeed(std::string_view host, int64_t bytesPerSecond);
  // Fills in the four remembered values of every mirror and sorts the list, known-close first.
  void OrderMirrors(TMirrorList &mirrors) override;
  // Writes both pages and saves the statistics; the caller then shows PingPage.
  platform::FileResult Report();
  // Deletes the statistics file and both pages and forgets everything.
  void Clear();

  const std::vector<TServer> &Servers() const { return servers_; }
  const std::vector<TServer> &TopDomains() const { return topDomains_; }
  const TServerStatsFiles &Files() const { return files_; }

private:
  platform::FileResult Save() const;

  TServerStatsFiles files_;
  std::vector<TServer> servers_;
  std::vector<TServer> topDomains_;
};

// The record name of a host: lower case, with control characters written as %xx so that no name
// can break a line of the statistics file.
std::string StatisticsName(std::string_view host);
// The text after the last dot of a name; empty for a name without one.
std::string TopDomainOf(std::string_view name);
// Wide enough for an average times its count, whatever the 64-bit average and 32-bit count.
__extension__ typedef __int128 TWideInteger;

// numerator / denominator rounded to the nearest integer, halves to the even one; denominator > 0.
int64_t DivideRoundingHalfToEven(TWideInteger numerator, int64_t denominator);

} // namespace velmora
