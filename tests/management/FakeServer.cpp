#include "management/FakeServer.h"

#include "support/TempDir.h"

#include <algorithm>

namespace velmora::testing {

FakePart::FakePart(FakeServer &server, const std::string &url, const std::string &fileName, int64_t startB,
                   int64_t endB)
    : TPartDownloader(url, fileName, startB, endB, server.words()), server_(server) {
  server_.parts.push_back(this);
}

FakePart::~FakePart() { std::erase(server_.parts, this); }

void FakePart::Get() {
  Paused = false;
  Aborted = false;
  server_.loop().post([this, alive = std::weak_ptr<bool>(alive_)] {
    if (!alive.expired())
      server_.Answer(*this);
  });
}

std::unique_ptr<TPartDownloader> FakeServer::CreatePartDownloader(const std::string &url,
                                                                  const std::string &fileName, int64_t startB,
                                                                  int64_t endB) {
  return std::make_unique<FakePart>(*this, url, fileName, startB, endB);
}

int FakeServer::Requests(const std::string &name) const {
  const auto found = scripts_.find(name);
  return found == scripts_.end() ? 0 : found->second.requests;
}

void FakeServer::Answer(FakePart &part) {
  if (part.Ended())
    return;
  Script &script = ScriptOf(part);
  ++script.requests;
  if (script.hold)
    return;
  if (script.failures > 0) {
    --script.failures;
    part.Fail(fmeCouldntConnect,
              script.failureWord.empty() ? words_.CouldntConnectToHost : script.failureWord);
    part.Report(pdsError);
    return;
  }
  part.Report(pdsConnected);
  if (part.Ended())
    return;
  part.ResumeSupported = rsNo;
  part.ResumeText = words_.No;
  part.Report(pdsResumeKnown);
  if (part.Ended())
    return;
  part.RemoteSize = static_cast<int64_t>(script.content.size());
  part.Report(pdsFileSizeKnown);
  if (part.Ended())
    return;
  WriteWholeFile(part.PartFileName, script.content);
  part.Received = part.RemoteSize;
  part.Report(pdsDownloading);
  if (part.Ended())
    return;
  part.Report(pdsDone);
}

} // namespace velmora::testing
