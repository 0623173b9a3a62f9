#pragma once

#include "engine/FtpPartDownloader.h"
#include "engine/HttpPartDownloader.h"
#include "engine/PartDownloader.h"

#include <memory>
#include <string>

namespace velmora {

// The part downloaders of the protocols the engine speaks, chosen by the address of the mirror.
class TPartDownloaderFactory : public IPartDownloaderFactory {
public:
  explicit TPartDownloaderFactory(const THttpPartContext &http) : http_(http) {}
  TPartDownloaderFactory(const THttpPartContext &http, const TFtpPartContext &ftp)
      : http_(http), ftp_(&ftp) {}

  std::unique_ptr<TPartDownloader> CreatePartDownloader(const std::string &Url, const std::string &FileName,
                                                        int64_t StartB, int64_t EndB) override;

private:
  const THttpPartContext &http_;
  const TFtpPartContext *ftp_ = nullptr; // none: ftp addresses get no part downloader
};

} // namespace velmora
