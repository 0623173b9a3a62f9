#include "mirrors/MirrorLayer.h"

namespace velmora {

TMirrorLayer::TMirrorLayer(platform::EventLoop &loop, const platform::Paths &paths, TEchoProbe probe)
    : pingSystems_(loop, std::move(probe)), localMirrorList_(paths.mirrorListFile),
      serverStats_(TServerStatsFiles::Of(paths)) {
  serverStats_.Load();
}

} // namespace velmora
