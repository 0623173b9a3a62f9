#include "engine/PartDownloaderFactory.h"

namespace velmora {

std::unique_ptr<TPartDownloader> TPartDownloaderFactory::CreatePartDownloader(const std::string &Url,
                                                                              const std::string &FileName,
                                                                              int64_t StartB, int64_t EndB) {
  const std::string protocol = TUrl(Url).Protocol;
  if (protocol == "http" || protocol == "https")
    return std::make_unique<THTTPPartDownloader>(http_, Url, FileName, StartB, EndB);
  if (protocol == "ftp" && ftp_)
    return std::make_unique<TFTPPartDownloader>(*ftp_, Url, FileName, StartB, EndB);
  return nullptr;
}

} // namespace velmora
