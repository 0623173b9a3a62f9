#pragma once

#include "engine/Downloader.h"
#include "management/Downloads.h"
#include "management/FakeServer.h"
#include "management/RecordingUi.h"
#include "platform/SettingsDatabase.h"
#include "store/Categories.h"
#include "support/LoopRunner.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace velmora::testing {

class FakeDialUp : public IDialUpConnection {
public:
  explicit FakeDialUp(std::vector<std::string> &log) : log_(log) {}
  void Disconnect(std::function<void()> done) override {
    log_.push_back("hang-up");
    pending = std::move(done);
  }
  std::function<void()> pending; // the hang-up is over when the test calls it
private:
  std::vector<std::string> &log_;
};

class FakeShutdown : public ISystemShutdown {
public:
  explicit FakeShutdown(std::vector<std::string> &log) : log_(log) {}
  void WinExit(std::function<void(bool)> done) override {
    log_.push_back("power-off");
    done(true);
  }

private:
  std::vector<std::string> &log_;
};

// A download system over a fake server, with a recording user interface, fake final actions, and
// settings in memory: new downloads go to save/ without asking, records live in partial/.
class DownloadSystemTest : public ::testing::Test {
protected:
  DownloadSystemTest() {
    settings.WriteBool("Options", "ShowSaveDialog", false);
    settings.WriteString("Options", "DefaultDownloadDirectory", saveFolder());
    settings.WriteBool("Options", "TryLocalMirrorlist", false);
    settings.WriteInteger("Options", "RetryDelay", 1);
    std::filesystem::create_directories(saveFolder());
  }
  ~DownloadSystemTest() override {
    system.reset();
    for (int i = 0; i < 10 && loop.registeredCount() > 0; ++i)
      loop.runOnce(0);
    EXPECT_EQ(loop.registeredCount(), 0u);
  }

  std::string partialFolder() const { return dir.file("partial"); }
  std::string saveFolder() const { return dir.file("save"); }
  std::string saved(const std::string &name) const { return saveFolder() + "/" + name; }

  TLocalDownloadinfo &Add(const std::string &name) {
    return system->AddDownload(
        std::make_unique<TLocalDownloadinfo>(TUrl("http://files/" + name), "", records));
  }
  TDownloader *DownloaderOf(const TLocalDownloadinfo &record) const {
    return system->AssociatedDownloader(&record);
  }
  bool RunUntilStatus(const TLocalDownloadinfo &record, const std::string &status,
                      uint32_t deadlineMs = 10000) {
    return RunUntil(
        loop, [&] { return record.Status == status; }, deadlineMs);
  }
  // Runs the retry countdown to its end, as its timer would, one second after the other.
  void CountDown(TLocalDownloadinfo &record) {
    for (int i = 0; i < 100 && record.RetryTimer != nullptr; ++i)
      system->OnRetryTimer(record);
  }
  FakePart *PartOf(const std::string &name) const {
    for (FakePart *part : server.parts)
      if (part->Url.FileName == name)
        return part;
    return nullptr;
  }
  // Turns the loop until nothing is left to do at once.
  void Settle() {
    for (int i = 0; i < 50; ++i)
      loop.runOnce(0);
  }
  std::vector<std::string> Statuses() const {
    std::vector<std::string> statuses;
    for (const TLocalDownloadinfo *record : system->AllRecords())
      statuses.push_back(record->Status);
    return statuses;
  }

  TempDir dir;
  platform::EventLoop loop;
  std::unique_ptr<platform::SettingsDatabase> database = platform::SettingsDatabase::OpenInMemory();
  TSettingsStore settings{*database};
  TConstants words;
  TCategoryList categories{dir.file("cat.dat"), {}};
  TRecordContext records{words, nullptr, &categories, [this] { return partialFolder(); }};
  FakeServer server{loop, words};
  TDownloaderContext downloaders{loop, settings, words, server, {}};
  RecordingUi ui;
  std::vector<std::string> finalActions;
  FakeDialUp dialUp{finalActions};
  FakeShutdown shutdown{finalActions};
  std::chrono::year_month_day today{std::chrono::year(2004), std::chrono::month(3), std::chrono::day(5)};
  uint32_t tick = 0;
  std::unique_ptr<TDownloadSystem> system = std::make_unique<TDownloadSystem>(
      TDownloadSystemContext{loop, settings, words, records, downloaders, ui, dir.file("default"), nullptr,
                             &dialUp, &shutdown, [this] { return today; }, [this] { return tick; }});
};

} // namespace velmora::testing
