#pragma once

#include "engine/FileMirror.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace velmora {

// What the downloader asks of the mirror layer, which sits above the engine: the mirror layer
// implements these and the program hands them to the engine when it wires itself together.

// Pings the mirrors of one download, a few at a time. Each added mirror is reported exactly once,
// on the loop thread and never inside AddMirror, after its PingTime was stored (9999: no answer
// within a second). The mirrors must outlive the ping system; destroying the ping system drops the
// reports still under way.
class IPingSystem {
public:
  virtual ~IPingSystem() = default;
  virtual void AddMirror(TFileMirror &mirror) = 0;
  // AddMirror for each mirror of the list, in list order. The list may hand its mirrors over to
  // another list afterwards: the ping system refers to the mirrors, not to the list.
  virtual void AddMirrors(const TMirrorList &mirrors) = 0;
};

// Called with each pinged mirror: the downloader's OnPingedMirror.
using TPingedMirrorCallback = std::function<void(TFileMirror &mirror)>;

class IPingSystemFactory {
public:
  virtual ~IPingSystemFactory() = default;
  // The downloader creates its ping system with maxSimPings 8.
  virtual std::unique_ptr<IPingSystem> CreatePingSystem(int32_t maxSimPings,
                                                        TPingedMirrorCallback onPinged) = 0;
};

// The local mirror list: other servers that carry the file at url, the server of url itself
// included when anything matched. Never fails: an unreadable list gives an empty result.
class ILocalMirrorList {
public:
  virtual ~ILocalMirrorList() = default;
  virtual TMirrorList GetMirrors(const std::string &url) = 0;
};

// The server statistics' part in choosing mirrors: fills in the remembered pings and rates of every
// mirror and sorts the list so that servers known to be close come first.
class IMirrorStatistics {
public:
  virtual ~IMirrorStatistics() = default;
  virtual void OrderMirrors(TMirrorList &mirrors) = 0;
};

// Everything the downloader needs of the mirror layer; a null member turns that service off (no
// pings: every mirror keeps 9999; no local list or statistics: only the download's own address).
struct TMirrorServices {
  IPingSystemFactory *PingSystems = nullptr;
  ILocalMirrorList *LocalMirrorList = nullptr;
  IMirrorStatistics *Statistics = nullptr;
};

} // namespace velmora
