#pragma once

#include "shell/Url.h"

#include <string_view>

namespace velmora {

// Whether an address from any intake (command line, another copy, Add URL, clipboard, drop) is one
// this program downloads: a protocol its clients speak and a host. The one place that list lives.
inline bool IsDownloadableProtocol(std::string_view protocol) {
  return protocol == "http" || protocol == "https" || protocol == "ftp";
}

inline bool IsDownloadableUrl(const TUrl &url) {
  return IsDownloadableProtocol(url.Protocol) && !url.Host.empty();
}

} // namespace velmora
