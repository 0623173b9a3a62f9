#include "app/AppEnvironment.h"
#include "app/GetOptions.h"
#include "app/GetQueueSession.h"
#include "app/GetSession.h"
#include "mirrors/ServerStats.h"

#include <cstdio>
#include <string>
#include <vector>

namespace {

int WriteStatistics(velmora::TAppEnvironment &app) {
  velmora::TServerStats statistics(velmora::TServerStatsFiles::Of(app.Paths));
  statistics.Load();
  if (const velmora::platform::FileResult written = statistics.Report(); !written) {
    std::fprintf(stderr, "velmora-get: %s\n", written.error.c_str());
    return velmora::geFailed;
  }
  std::printf("%s\n%s\n", statistics.Files().PingPage.c_str(), statistics.Files().SpeedPage.c_str());
  return velmora::geOk;
}

} // namespace

int main(int argc, char **argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const velmora::TGetOptionsResult parsed = velmora::ParseGetOptions(arguments);
  if (parsed.Options.Help) {
    std::fputs(velmora::kGetUsage, stdout);
    return velmora::geOk;
  }
  if (!parsed.Error.empty()) {
    std::fprintf(stderr, "velmora-get: %s\n\n%s", parsed.Error.c_str(), velmora::kGetUsage);
    return velmora::geUsage;
  }
  const auto app = velmora::TAppEnvironment::Start();
  if (!app->Problems.empty())
    std::fputs(app->Problems.c_str(), stderr);
  if (parsed.Options.Statistics)
    return WriteStatistics(*app);
  if (velmora::UsesQueue(parsed.Options)) {
    velmora::TGetQueueSession queue(*app, parsed.Options);
    return queue.Run();
  }
  velmora::TGetSession session(*app, parsed.Options);
  return session.Run();
}
