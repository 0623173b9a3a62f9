#pragma once

#include "engine/PartDownloader.h"
#include "platform/EventLoop.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace velmora::testing {

class FakeServer;

// A part downloader whose answers come from a FakeServer on the next turn of the loop.
class FakePart : public TPartDownloader {
public:
  FakePart(FakeServer &server, const std::string &url, const std::string &fileName, int64_t startB,
           int64_t endB);
  ~FakePart() override;

  void Get() override;
  void Stop() override { Notify(); }
  std::string_view Protocol() const override { return "http"; }

  // Enters state and reports it, as a real part downloader does from its client's events.
  void Report(TPartDownloaderState state) {
    State = state;
    Notify();
  }
  using TPartDownloader::Fail;
  // Whether nothing more should be reported: paused, aborted or released.
  bool Ended() const { return Paused || Aborted || !OnChange; }

private:
  FakeServer &server_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// Files by name (the last part of the address): each request is answered from the script of its
// file: held (no answer), failed with "Couldn't connect to host" while failures are left, or
// served whole in one go without range support.
class FakeServer : public IPartDownloaderFactory {
public:
  FakeServer(platform::EventLoop &loop, const TConstants &words) : loop_(loop), words_(words) {}

  std::unique_ptr<TPartDownloader> CreatePartDownloader(const std::string &url, const std::string &fileName,
                                                        int64_t startB, int64_t endB) override;

  void Serve(const std::string &name, std::string content) { scripts_[name].content = std::move(content); }
  // Each failure ends the request with word (a status word such as "Couldn't connect to host").
  void Fail(const std::string &name, int times, std::string word = {}) {
    scripts_[name].failures = times;
    scripts_[name].failureWord = std::move(word);
  }
  void Hold(const std::string &name, bool hold = true) { scripts_[name].hold = hold; }
  int Requests(const std::string &name) const;

  void Answer(FakePart &part);
  std::vector<FakePart *> parts; // alive ones
  platform::EventLoop &loop() { return loop_; }
  const TConstants &words() const { return words_; }

private:
  struct Script {
    std::string content;
    int failures = 0;
    std::string failureWord;
    bool hold = false;
    int requests = 0;
  };
  Script &ScriptOf(const FakePart &part) { return scripts_[part.Url.FileName]; }

  platform::EventLoop &loop_;
  const TConstants &words_;
  std::map<std::string, Script> scripts_;
};

} // namespace velmora::testing
