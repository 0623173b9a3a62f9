#pragma once

#include "engine/MirrorSeams.h"
#include "mirrors/GetMirrorList.h"
#include "mirrors/MirrorPing.h"
#include "mirrors/ServerStats.h"
#include "platform/EventLoop.h"
#include "platform/Paths.h"

namespace velmora {

// The mirror services of the whole program, made once at start-up: the ping systems of all
// downloads on the one loop, the local mirror list and the loaded server statistics of the data
// folder. Services() is what the engine's downloaders are given.
class TMirrorLayer {
public:
  TMirrorLayer(platform::EventLoop &loop, const platform::Paths &paths, TEchoProbe probe = IcmpEchoProbe);
  TMirrorLayer(const TMirrorLayer &) = delete;
  TMirrorLayer &operator=(const TMirrorLayer &) = delete;

  TMirrorServices Services() { return {&pingSystems_, &localMirrorList_, &serverStats_}; }
  TServerStats &ServerStats() { return serverStats_; }

private:
  TPingSystemFactory pingSystems_;
  TLocalMirrorList localMirrorList_;
  TServerStats serverStats_;
};

} // namespace velmora
