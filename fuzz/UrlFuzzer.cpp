// Feeds arbitrary addresses to the address parser and to the resolution of redirect locations:
// the request path a request line is made from stays one token.
#include "shell/Url.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void CheckRequestPath(const velmora::TUrl &url) {
  const std::string path = url.RequestPath();
  for (const char c : path)
    if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F)
      std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  using velmora::TUrl;
  const std::string text(reinterpret_cast<const char *>(data), size);
  TUrl url(text);
  CheckRequestPath(url);
  url.FullUrl();
  url.FullUrlWithQuery();
  url.HostForAddress();
  if (url.Protocol == "http" || url.Protocol == "ftp") {
    // The canonical address parses to the same place.
    TUrl again(url.FullUrl());
    if (again.Protocol != url.Protocol || again.Port != url.Port)
      std::abort();
  }
  const std::string resolved = velmora::ResolveLocation(TUrl("http://host.example:8080/dir/file?q=1"), text);
  if (!resolved.empty())
    CheckRequestPath(TUrl(resolved));
  return 0;
}
