// Feeds arbitrary statistics files ("serverstats.txt") to the server statistics: they load
// without failing, keep their bounds, and what they save loads back the same.
#include "FuzzFiles.h"
#include "mirrors/ServerStats.h"

#include <cstdint>
#include <cstdlib>

namespace {

using namespace velmora;

TServerStatsFiles Files() {
  const std::string &folder = fuzzing::ScratchFolder();
  return {folder + "/serverstats.txt", folder + "/StatisticsPing.html", folder + "/StatisticsSpeed.html"};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzzing::WriteInput("serverstats.txt", data, size);
  TServerStats stats(Files());
  stats.Load();
  if (stats.Servers().size() > TServerStats::kMaxRecords ||
      stats.TopDomains().size() > TServerStats::kMaxRecords)
    std::abort();
  stats.AddPing("mirror.example.org", 42);
  TMirrorList mirrors;
  stats.OrderMirrors(mirrors);
  if (!stats.Report())
    std::abort();
  TServerStats again(Files());
  again.Load();
  if (again.Servers() != stats.Servers() || again.TopDomains() != stats.TopDomains())
    std::abort();
  return 0;
}
