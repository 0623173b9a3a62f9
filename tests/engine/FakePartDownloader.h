#pragma once

#include "engine/PartDownloader.h"

#include <string>
#include <vector>

namespace velmora::testing {

// A part downloader the test drives by hand: it records what the slot asks of it and reports
// whatever state the test gives it.
class FakePartDownloader : public TPartDownloader {
public:
  FakePartDownloader(const std::string &url, const std::string &fileName, int64_t startB, int64_t endB,
                     const TConstants &words, bool *destroyed)
      : TPartDownloader(url, fileName, startB, endB, words), destroyed_(destroyed) {}
  ~FakePartDownloader() override {
    if (destroyed_)
      *destroyed_ = true;
  }

  void Get() override {
    calls.push_back("Get " + Url.Url + " " + std::to_string(StartByte) + "-" + std::to_string(EndByte));
  }
  void Abort() override {
    TPartDownloader::Abort();
    calls.push_back("Abort");
  }
  void Pause() override {
    TPartDownloader::Pause();
    calls.push_back("Pause");
  }
  void Stop() override { calls.push_back("Stop"); }
  void Detach() override {
    TPartDownloader::Detach();
    calls.push_back("Detach");
  }
  std::string_view Protocol() const override { return "http"; }

  // Enters state and reports it, as a real part downloader does from its client's events; the
  // record written afterwards shows the object is still alive when the report returns.
  void Report(TPartDownloaderState state) {
    State = state;
    Notify();
    calls.push_back("reported " + std::to_string(state));
  }
  using TPartDownloader::Fail;

  std::vector<std::string> calls;

private:
  bool *destroyed_;
};

} // namespace velmora::testing
