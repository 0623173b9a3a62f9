#include "engine/HttpPartDownloader.h"
#include "engine/PartDownloaderFactory.h"
#include "engine/SiteManager.h"
#include "management/AuthFormPresenter.h"
#include "management/Downloads.h"
#include "management/RecordingUi.h"
#include "platform/SettingsDatabase.h"
#include "store/Categories.h"
#include "support/LoopRunner.h"
#include "support/PeerServers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace velmora::testing {
namespace {

// Opens a dialog for every demand, as the GUI does; the test answers them.
struct DialogUi : RecordingUi {
  void ShowAuthForm(TDownloader &downloader, TPartDownloadSlot &slot) override {
    RecordingUi::ShowAuthForm(downloader, slot);
    dialogs.push_back(std::make_unique<TAuthFormPresenter>(*sites, *answers, slot));
  }
  TSiteManager *sites = nullptr;
  IAuthAnswers *answers = nullptr;
  std::vector<std::unique_ptr<TAuthFormPresenter>> dialogs;
};

std::string Content(std::size_t size, char seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>(seed + i * 131 % 251);
  return bytes;
}

// Downloads from nginx's /auth/ through the download system, with the site manager as the
// credentials of every HTTP part.
class SiteAuthenticationNginxTest : public ::testing::Test {
protected:
  SiteAuthenticationNginxTest() {
    settings.WriteBool("Options", "ShowSaveDialog", false);
    settings.WriteBool("Options", "ShowDownloadWindow", false);
    settings.WriteBool("Options", "ShowCompletedDialog", false);
    settings.WriteString("Options", "DefaultDownloadDirectory", dir.file("save"));
    settings.WriteBool("Options", "TryLocalMirrorlist", false);
    settings.WriteInteger("Options", "RetryTimes", 0);
    std::filesystem::create_directories(dir.file("save"));
    ui.sites = &sites;
    ui.answers = system.get();
  }
  ~SiteAuthenticationNginxTest() override {
    system.reset();
    for (int i = 0; i < 50 && loop.registeredCount() > 0; ++i)
      loop.runOnce(10);
    EXPECT_EQ(loop.registeredCount(), 0u);
  }
  void SetUp() override {
    try {
      nginx = std::make_unique<NginxPeer>();
    } catch (const std::exception &error) {
      FAIL() << error.what();
    }
  }
  TLocalDownloadinfo &Add(const std::string &name, const std::string &content) {
    WriteWholeFile(nginx->filesFolder() / name, content);
    return system->AddDownload(
        std::make_unique<TLocalDownloadinfo>(TUrl(nginx->url("/auth/" + name)), "", records));
  }
  std::string Saved(const std::string &name) { return ReadWholeFile(dir.file("save") + "/" + name); }

  TempDir dir;
  std::unique_ptr<NginxPeer> nginx;
  platform::EventLoop loop;
  std::unique_ptr<platform::SettingsDatabase> database = platform::SettingsDatabase::OpenInMemory();
  TSettingsStore settings{*database};
  TConstants words;
  TCategoryList categories{dir.file("cat.dat"), {}};
  TRecordContext records{words, nullptr, &categories, [this] { return dir.file("partial"); }};
  TSiteManager sites;
  THttpPartContext http{loop, settings, [](const std::string &) { return std::nullopt; }, sites, words};
  TPartDownloaderFactory factory{http};
  TDownloaderContext downloaders{loop, settings, words, factory, {}, {}, ".", &sites};
  DialogUi ui;
  std::unique_ptr<TDownloadSystem> system = std::make_unique<TDownloadSystem>(
      TDownloadSystemContext{loop, settings, words, records, downloaders, ui, dir.file("default")});
};

TEST_F(SiteAuthenticationNginxTest, OneAnswerRestartsBothWaitingPartsAndTheFilesAreExact) {
  const std::string first = Content(300000, 'a');
  const std::string second = Content(120000, 'q');
  TLocalDownloadinfo &a = Add("first.bin", first);
  TLocalDownloadinfo &b = Add("second.bin", second);
  ASSERT_TRUE(RunUntil(loop, [&] { return ui.dialogs.size() == 2; }));
  EXPECT_EQ(ui.dialogs[0]->Realm(), "Files");
  EXPECT_EQ(ui.dialogs[0]->Host(), "127.0.0.1");

  ui.dialogs[0]->Ok(NginxPeer::kUser, NginxPeer::kPassword);
  ASSERT_TRUE(RunUntil(
      loop, [&] { return a.IsDone() && b.IsDone(); }, 20000))
      << a.Status << " " << b.Status;
  EXPECT_EQ(Saved("first.bin"), first);
  EXPECT_EQ(Saved("second.bin"), second);
  // The later parts of the split sent the credentials with their first request.
  EXPECT_EQ(ui.dialogs.size(), 2u);
  ui.dialogs[1]->Ok(NginxPeer::kUser, NginxPeer::kPassword); // only stores them again
}

TEST_F(SiteAuthenticationNginxTest, AWrongPasswordEndsInCouldntLogin) {
  TLocalDownloadinfo &a = Add("file.bin", Content(50000, 'z'));
  ASSERT_TRUE(RunUntil(loop, [&] { return ui.dialogs.size() == 1; }));
  ui.dialogs[0]->Ok(NginxPeer::kUser, "wrong");
  ASSERT_TRUE(RunUntil(loop, [&] { return a.Status == words.CouldntLogin; })) << a.Status;
  EXPECT_EQ(ui.dialogs.size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(dir.file("save") + "/file.bin"));
}

} // namespace
} // namespace velmora::testing
