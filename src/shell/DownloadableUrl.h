#pragma once

#include "shell/Url.h"

namespace velmora {

// Whether an address from any intake (command line, another copy, Add URL, clipboard, drop) is one
// this program downloads: a protocol its clients speak and a host. The one place that list lives.
inline bool IsDownloadableUrl(const TUrl &url) {
  return (url.Protocol == "http" || url.Protocol == "ftp") && !url.Host.empty();
}

} // namespace velmora
