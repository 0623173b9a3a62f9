#pragma once

#include "engine/FtpPartDownloader.h"
#include "engine/PartFixture.h"

#include <memory>
#include <string>

namespace velmora::testing {

// An FTP part downloader on the shared part fixture; it logs on as the address says.
class FtpPartFixture : public PartFixture {
protected:
  TFTPPartDownloader &Make(const std::string &url, int64_t start, int64_t end) {
    return MakePart(part, context, url, start, end);
  }

  // Starts the part as its slot does.
  void Start() {
    part->State = pdsConnecting;
    part->Get();
  }

  std::string PartFile() const { return part->PartFileName; }

  TFtpPartContext context{loop, settings, Environment(), words};
  std::unique_ptr<TFTPPartDownloader> part;
};

} // namespace velmora::testing
