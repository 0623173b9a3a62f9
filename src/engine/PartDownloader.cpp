#include "engine/PartDownloader.h"

namespace velmora {

namespace {

// Only a "." in the file's own name counts: the folders of a path (".local") may hold dots too.
std::string PartFileNameFor(const std::string &fileName, int64_t startByte) {
  const std::size_t nameStart = fileName.rfind('/') == std::string::npos ? 0 : fileName.rfind('/') + 1;
  if (fileName.find('.', nameStart) != std::string::npos)
    return fileName;
  return fileName + "." + std::to_string(startByte);
}

} // namespace

uint32_t TimeOutLimit(TPartDownloaderState State, bool OnlyPart, uint32_t TimeOutTime,
                      uint32_t MirrorTimeOutTime) {
  switch (State) {
  case pdsConnecting:
    return OnlyPart ? TimeOutTime : MirrorTimeOutTime;
  case pdsConnected:
  case pdsFileSizeKnown:
  case pdsResumeKnown:
  case pdsDownloading:
  case pdsRangeComplete:
    return TimeOutTime;
  default:
    return 0;
  }
}

TPartDownloader::TPartDownloader(std::string_view Url_, const std::string &FileName, int64_t StartB,
                                 int64_t EndB, const TConstants &Words_)
    : StartByte(StartB), EndByte(EndB), PartFileName(PartFileNameFor(FileName, StartB)),
      Url(Url_, Words_.Unknown), ResumeText(Words_.Unknown), Words(Words_) {}

TPartDownloader::~TPartDownloader() = default;

void TPartDownloader::Abort() { Aborted = true; }

void TPartDownloader::Pause() { Paused = true; }

void TPartDownloader::Detach() { OnChange = nullptr; }

void TPartDownloader::TimeOut() {
  Fail(fmeConnectionLost, Words.Timeout);
  Stop();
}

void TPartDownloader::Notify() {
  // A copy, so the handler stays whole even when it detaches this part downloader.
  if (const TChangeEvent handler = OnChange)
    handler(*this, State);
}

void TPartDownloader::Fail(TFileMirrorError reason, const std::string &text) {
  State = pdsError;
  ErrorState = reason;
  ErrorText = text;
}

} // namespace velmora
