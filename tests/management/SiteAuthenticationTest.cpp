#include "engine/SiteManager.h"
#include "management/AuthFormPresenter.h"
#include "management/DownloadSystemFixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace velmora::testing {
namespace {

// Records what the dialogs decided and forwards it to the download system, as the GUI does.
struct RecordingAnswers : IAuthAnswers {
  explicit RecordingAnswers(TDownloadSystem &s) : system(s) {}
  void SlotAuthenticated(TDownloader &d, TPartDownloadSlot &slot) override {
    log.push_back("ok " + d.Info.Url.FileName);
    system.SlotAuthenticated(d, slot);
  }
  void AbortSlotAuthenticated(TDownloader &d, TPartDownloadSlot &slot) override {
    log.push_back("cancel " + d.Info.Url.FileName);
    system.AbortSlotAuthenticated(d, slot);
  }
  TDownloadSystem &system;
  std::vector<std::string> log;
};

// Downloads from one server whose parts are held until the test makes them meet a 401.
class SiteAuthenticationTest : public DownloadSystemTest {
protected:
  SiteAuthenticationTest() { downloaders.Sites = &sites; }
  ~SiteAuthenticationTest() override { system.reset(); }

  // Starts a download of name whose part meets a demand for realm; the dialog opened for it.
  TAuthFormPresenter &Demand(const std::string &name, const std::string &realm = "Files",
                             const std::string &host = "files") {
    server.Hold(name);
    TLocalDownloadinfo &record = system->AddDownload(
        std::make_unique<TLocalDownloadinfo>(TUrl("http://" + host + "/" + name), "", records));
    Settle();
    FakePart *part = PartOf(name);
    EXPECT_NE(part, nullptr);
    part->Realm = realm;
    part->Report(pdsAuthRequired);
    TPartDownloadSlot &slot = *DownloaderOf(record)->Slots.GetSlot(0);
    dialogs.push_back(std::make_unique<TAuthFormPresenter>(sites, answers, slot));
    return *dialogs.back();
  }
  TPartDownloadSlot &SlotOf(const std::string &name) {
    for (TLocalDownloadinfo *record : system->AllRecords())
      if (record->Url.FileName == name)
        return *DownloaderOf(*record)->Slots.GetSlot(0);
    throw std::runtime_error("no download " + name);
  }

  TSiteManager sites;
  RecordingAnswers answers{*system};
  std::vector<std::unique_ptr<TAuthFormPresenter>> dialogs;
};

TEST_F(SiteAuthenticationTest, OneAnswerRestartsEveryWaitingPartAndALaterDialogOnlyStores) {
  TAuthFormPresenter &first = Demand("a.bin");
  TAuthFormPresenter &second = Demand("b.bin");
  EXPECT_EQ(first.Host(), "files");
  EXPECT_EQ(first.Realm(), "Files");
  EXPECT_EQ((std::vector<std::string>{"auth a.bin", "auth b.bin"}), ui.log);

  first.Ok("user", "pass");
  Settle();
  EXPECT_EQ((std::vector<std::string>{"ok a.bin", "ok b.bin"}), answers.log);
  for (const char *name : {"a.bin", "b.bin"}) {
    TPartDownloadSlot &slot = SlotOf(name);
    EXPECT_TRUE(slot.AuthTried) << name;
    EXPECT_EQ(slot.Mirror->Url.User, "user") << name;
    EXPECT_EQ(server.Requests(name), 2) << name;
  }

  second.Ok("user", "other pass");
  Settle();
  EXPECT_EQ(answers.log.size(), 2u);
  EXPECT_EQ(sites.GetPassword(TUrl("http://files/x"), "Files"), "other pass");
  EXPECT_EQ(server.Requests("b.bin"), 2);
}

TEST_F(SiteAuthenticationTest, CancelFailsEveryWaitingPartWithCouldntLogin) {
  TAuthFormPresenter &dialog = Demand("a.bin");
  Demand("b.bin");
  Demand("c.bin");
  dialog.Cancel();
  EXPECT_EQ((std::vector<std::string>{"cancel a.bin", "cancel b.bin", "cancel c.bin"}), answers.log);
  for (const char *name : {"a.bin", "b.bin", "c.bin"})
    EXPECT_EQ(SlotOf(name).Status, words.CouldntLogin) << name;
  EXPECT_EQ(sites.NextWaitingSlot(TUrl("http://files/"), "Files").Slot, nullptr);
}

TEST_F(SiteAuthenticationTest, CancelFailsThePartOfAnotherRealmThatEndsItsWalk) {
  TAuthFormPresenter &dialog = Demand("a.bin");
  Demand("b.bin");
  SlotOf("a.bin").Realm = "Other";
  dialog.Cancel();
  EXPECT_EQ((std::vector<std::string>{"cancel a.bin"}), answers.log);
  EXPECT_EQ(SlotOf("a.bin").Status, words.CouldntLogin);
  EXPECT_EQ(sites.NextWaitingSlot(TUrl("http://files/"), "Files").Slot, &SlotOf("b.bin"));
}

// Demands for ("h", "A"), ("h", "B") and ("x", "A"); the A entry of h holds "ua", the B entry "ub".
TEST_F(SiteAuthenticationTest, LookupFindsTheRealmElseTheFirstEntryOfTheHost) {
  Demand("1.bin", "A", "h");
  Demand("2.bin", "B", "h");
  Demand("3.bin", "A", "x");
  sites.SetCredentials(TUrl("http://h/"), "A", "ua", "pa");
  sites.SetCredentials(TUrl("http://h/"), "B", "ub", "pb");
  // A host without entry gets none, and no other entry changes.
  sites.SetCredentials(TUrl("http://nowhere/"), "A", "intruder", "secret");
  struct {
    const char *host, *realm, *user, *password; // "" for no entry
  } const cases[] = {
      {"h", "B", "ub", "pb"},   // its own realm
      {"h", "C", "ua", "pa"},   // an unknown realm takes the first entry of the host
      {"h", "", "ua", "pa"},    // as does a part that has met no demand yet
      {"nowhere", "A", "", ""}, // no entry
      {"H", "A", "", ""},       // another letter case is another site
      {"x", "A", "", ""},       // another host keeps its own (empty) credentials
  };
  for (const auto &c : cases) {
    const TUrl url(std::string("http://") + c.host + "/file");
    EXPECT_EQ(sites.GetUser(url, c.realm), c.user) << c.host << " " << c.realm;
    EXPECT_EQ(sites.GetPassword(url, c.realm), c.password) << c.host << " " << c.realm;
    EXPECT_EQ(sites.FindAuthInfo(c.host, c.realm) != nullptr,
              std::string(c.host) != "nowhere" && std::string(c.host) != "H");
  }
}

TEST_F(SiteAuthenticationTest, ADownloadDeletedWhileItsPartWaitsIsNeverAnswered) {
  TAuthFormPresenter &gone = Demand("a.bin");
  Demand("b.bin");
  TLDIList doomed;
  for (TLocalDownloadinfo *record : system->AllRecords())
    if (record->Url.FileName == "a.bin")
      doomed.Add(record);
  system->DeleteItems(doomed, false);
  Settle(); // the downloader and its slots are destroyed

  gone.Ok("user", "pass");
  EXPECT_EQ((std::vector<std::string>{"ok b.bin"}), answers.log);
  EXPECT_EQ(sites.GetUser(TUrl("http://files/"), "Files"), "user");
}

TEST_F(SiteAuthenticationTest, AnAbortedOrPausedDownloadLeavesTheWaitingList) {
  for (const bool abort : {true, false}) {
    const std::string name = abort ? "aborted.bin" : "paused.bin";
    TAuthFormPresenter &dialog = Demand(name);
    TDownloader &downloader = *DownloaderOf(*system->AllRecords().Get(system->AllRecords().Count() - 1));
    abort ? downloader.Abort() : downloader.Pause();
    dialog.Ok("user", "pass");
    Settle();
    EXPECT_TRUE(answers.log.empty()) << name;
    EXPECT_EQ(server.Requests(name), 1) << name;
  }
}

} // namespace
} // namespace velmora::testing
