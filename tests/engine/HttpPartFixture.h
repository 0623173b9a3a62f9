#pragma once

#include "engine/HttpPartDownloader.h"
#include "engine/PartFixture.h"

#include <memory>
#include <string>

namespace velmora::testing {

// An HTTP part downloader on the shared part fixture, with the address's credentials.
class HttpPartFixture : public PartFixture {
protected:
  std::unique_ptr<THTTPPartDownloader> &Make(const std::string &url, int64_t start, int64_t end) {
    MakePart(part, context, url, start, end);
    return part;
  }

  std::string PartFile() const { return part ? part->PartFileName : dir.file("T.0"); }

  THttpPartContext context{loop, settings, Environment(), credentials, words};
  std::unique_ptr<THTTPPartDownloader> part;
};

} // namespace velmora::testing
