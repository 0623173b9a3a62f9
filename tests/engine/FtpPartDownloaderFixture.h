#pragma once

#include "engine/FtpPartDownloader.h"
#include "engine/HttpPartFixture.h"
#include "platform/SettingsDatabase.h"
#include "support/LoopRunner.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace velmora::testing {

// An FTP part downloader on its own loop, with settings and environment of the test's own (no
// proxy unless the test sets one), recording every report.
class FtpPartFixture : public ::testing::Test {
protected:
  ~FtpPartFixture() override {
    part.reset();
    loop.runOnce(0);
    EXPECT_EQ(loop.registeredCount(), 0u);
  }

  TFTPPartDownloader &Make(const std::string &url, int64_t start, int64_t end) {
    part = std::make_unique<TFTPPartDownloader>(context, url, dir.file("T"), start, end);
    part->OnChange = [this](TPartDownloader &changed, TPartDownloaderState state) {
      transcript.push_back(Describe(changed, state));
      if (IsFinal(state))
        ++ends;
      if (onChange)
        onChange(changed, state);
    };
    return *part;
  }

  // Starts the part as its slot does.
  void Start() {
    part->State = pdsConnecting;
    part->Get();
  }

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

  std::string PartFile() const { return part->PartFileName; }

  std::optional<std::string> EnvironmentValue(const std::string &name) const {
    const auto found = environment.find(name);
    return found == environment.end() ? std::nullopt : std::optional<std::string>(found->second);
  }

  TempDir dir;
  platform::EventLoop loop;
  std::unique_ptr<platform::SettingsDatabase> database = platform::SettingsDatabase::OpenInMemory();
  TSettingsStore settings{*database};
  std::map<std::string, std::string> environment;
  TConstants words;
  TFtpPartContext context{loop, settings, [this](const std::string &name) { return EnvironmentValue(name); },
                          words};
  std::unique_ptr<TFTPPartDownloader> part;
  std::vector<std::string> transcript;
  int ends = 0;
  TPartDownloader::TChangeEvent onChange;
};

} // namespace velmora::testing
