#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// One record of the server statistics: a host, or a top domain without its dot.
struct TServer {
  std::string Name;
  int32_t AveragePing = 0; // milliseconds
  int32_t PingCount = 0;
  int64_t AverageSpeed = 0; // bytes per second per connection; 0: none yet
  int32_t SpeedCount = 0;

  friend bool operator==(const TServer &, const TServer &) = default;
};

// The report pages. Both lists are shown sorted, the ping page by ascending ping and the speed
// page by descending speed; each page links to the other by the relative name given. decimalPoint
// is the locale's separator for the kilobyte rates.
std::string PingStatisticsPage(std::vector<TServer> servers, std::vector<TServer> topDomains,
                               std::string_view speedPageLink, std::string_view decimalPoint);
std::string SpeedStatisticsPage(std::vector<TServer> servers, std::vector<TServer> topDomains,
                                std::string_view pingPageLink, std::string_view decimalPoint);

// A rate as kilobytes per second with at most one decimal, cut rather than rounded (45678 gives
// 45.6, 45000 gives 45); "N/A" for 0.
std::string KilobytesPerSecondText(int64_t bytesPerSecond, std::string_view decimalPoint);

std::string EscapeHtml(std::string_view text);

} // namespace velmora
