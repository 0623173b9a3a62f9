#pragma once

#include "engine/PartDownloader.h"
#include "engine/SiteCredentials.h"
#include "platform/Environment.h"
#include "platform/SettingsDatabase.h"
#include "store/Registry.h"
#include "support/LoopRunner.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velmora::testing {

// The bytes of a remote test file: every offset has its own recognisable byte, so a part that
// lands at the wrong place never passes for the right one.
inline std::string RemoteBytes(int64_t offset, int64_t length) {
  std::string bytes(static_cast<std::size_t>(length), '\0');
  for (int64_t i = 0; i < length; ++i)
    bytes[static_cast<std::size_t>(i)] = static_cast<char>('A' + ((offset + i) * 7 + (offset + i) / 26) % 26);
  return bytes;
}

// What a part downloader reported, one word per notification.
inline std::string Describe(const TPartDownloader &part, TPartDownloaderState state) {
  switch (state) {
  case pdsConnecting:
    return "connecting";
  case pdsConnected:
    return "connected";
  case pdsAuthRequired:
    return "auth-required " + part.Realm;
  case pdsFileSizeKnown:
    return "size-known " + std::to_string(part.RemoteSize);
  case pdsResumeKnown:
    return std::string("resume-known ") + (part.ResumeSupported == rsYes ? "yes" : "no");
  case pdsDownloading:
    return "downloading";
  case pdsDone:
    return "done";
  case pdsRangeComplete:
    return "range-complete";
  case pdsError:
    return "error " + part.ErrorText;
  case pdsAborted:
    return "aborted";
  case pdsPaused:
    return "paused";
  case pdsIdle:
    return "idle";
  }
  return "?";
}

inline bool IsFinal(TPartDownloaderState state) {
  return state == pdsDone || state == pdsError || state == pdsAborted || state == pdsPaused ||
         state == pdsAuthRequired;
}

// What the part downloader tests of every protocol share: a loop of their own, settings and an
// environment of the test's own (no proxy unless the test sets one), and a record of every report.
// The protocol's fixture adds its context and the part, which it destroys before this checks that
// nothing is left on the loop.
class PartFixture : public ::testing::Test {
protected:
  ~PartFixture() override {
    loop.runOnce(0);
    EXPECT_EQ(loop.registeredCount(), 0u);
  }

  template <class Downloader, class Context>
  Downloader &MakePart(std::unique_ptr<Downloader> &part, const Context &context, const std::string &url,
                       int64_t start, int64_t end) {
    part = std::make_unique<Downloader>(context, url, dir.file("T"), start, end);
    Record(*part);
    return *part;
  }

  void Record(TPartDownloader &downloader) {
    downloader.OnChange = [this](TPartDownloader &changed, TPartDownloaderState state) {
      transcript.push_back(Describe(changed, state));
      if (IsFinal(state))
        ++ends;
      if (onChange)
        onChange(changed, state);
    };
  }

  // Runs until the part has reported an end (or the deadline passes).
  bool RunToEnd(int wanted = 1, uint32_t deadlineMs = 15000) {
    return RunUntil(
        loop, [&] { return ends >= wanted; }, deadlineMs);
  }

  std::string Transcript() const {
    std::string text;
    for (const std::string &entry : transcript)
      text += (text.empty() ? "" : ", ") + entry;
    return text;
  }

  // The test's environment, for the contexts.
  platform::Environment Environment() const {
    return [this](const std::string &name) {
      const auto found = environment.find(name);
      return found == environment.end() ? std::nullopt : std::optional<std::string>(found->second);
    };
  }

  TempDir dir;
  platform::EventLoop loop;
  std::unique_ptr<platform::SettingsDatabase> database = platform::SettingsDatabase::OpenInMemory();
  TSettingsStore settings{*database};
  std::map<std::string, std::string> environment;
  TUrlCredentials credentials;
  TConstants words;
  std::vector<std::string> transcript;
  int ends = 0;
  TPartDownloader::TChangeEvent onChange;
};

} // namespace velmora::testing
