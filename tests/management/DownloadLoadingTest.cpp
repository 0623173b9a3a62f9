#include "management/DownloadSystemFixture.h"
#include "support/ExpectReports.h"

namespace velmora::testing {
namespace {

struct RecordFile {
  std::string name;
  std::string url;
  std::string localFile; // relative to save/, or empty
  std::string status;
  bool partFile;
  bool finalFile;
};

class DownloadLoadingTest : public DownloadSystemTest {
protected:
  std::string Write(const RecordFile &file, const std::string &created) {
    std::filesystem::create_directories(partialFolder());
    std::string base = partialFolder() + "/" + file.name;
    std::string text = "[Options]\n";
    if (!file.url.empty())
      text += "URL=" + file.url + "\n";
    text += "LocalFileName=" + (file.localFile.empty() ? "" : saved(file.localFile)) + "\n";
    text += "Status=" + file.status + "\nFileSize=10\nNumOfParts=1\nCreated=" + created + "\n";
    WriteWholeFile(base + ".dat", text);
    if (file.partFile)
      WriteWholeFile(base + ".0", "part");
    if (file.finalFile)
      WriteWholeFile(saved(file.localFile), "final");
    return base;
  }
  const TLocalDownloadinfo *Loaded(const std::string &base) const {
    for (const TLocalDownloadinfo *record : system->AllRecords())
      if (record->TempFileName == base)
        return record;
    return nullptr;
  }
};

TEST_F(DownloadLoadingTest, StartUpDropsOnlyWholeRecordsThatLeadNowhere) {
  struct Case {
    RecordFile file;
    const char *expected; // status after loading; nullptr: dropped with its record file
  };
  const std::vector<Case> cases = {
      {{"RUNNING1", "http://h/a", "a", "Downloading", true, false}, "Paused"},
      {{"RUNNING2", "http://h/b", "b", "Downloading", false, false}, nullptr},
      {{"QUEUED01", "http://h/c", "c", "Queued", false, false}, "Paused"},
      {{"NONAME01", "http://h/d", "", "Paused", true, false}, nullptr},
      {{"DONEGONE", "http://h/e", "e", "Done", false, false}, nullptr},
      {{"DONEHERE", "http://h/f", "f", "Done", false, true}, "Done"},
      {{"SCHEDULE", "ftp://h/g", "g", "Scheduled", false, false}, "Scheduled"},
  };
  std::vector<std::string> bases;
  bases.reserve(cases.size());
  int second = 0;
  for (const Case &c : cases)
    bases.push_back(Write(c.file, "2004-03-05 10:00:0" + std::to_string(second++)));
  system->UpdateGridInfo();
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const TLocalDownloadinfo *record = Loaded(bases[i]);
    if (cases[i].expected == nullptr) {
      EXPECT_EQ(record, nullptr) << cases[i].file.name;
      EXPECT_FALSE(std::filesystem::exists(bases[i] + ".dat")) << cases[i].file.name;
      continue;
    }
    ASSERT_NE(record, nullptr) << cases[i].file.name;
    EXPECT_EQ(record->Status, cases[i].expected) << cases[i].file.name;
    EXPECT_NE(ReadWholeFile(bases[i] + ".dat").find(std::string("Status=") + cases[i].expected),
              std::string::npos)
        << cases[i].file.name;
  }
  EXPECT_EQ(Loaded(bases[0])->StatusImage, kStatusCodePaused);
  EXPECT_TRUE(system->ActiveDownloaders().empty()) << "nothing starts by itself";
  EXPECT_EQ(server.parts.size(), 0u);
}

TEST_F(DownloadLoadingTest, AFinishedRecordWhoseFileIsGoneStaysWhenAskedTo) {
  settings.WriteBool("Options", "RemoveUnexistingFilesFromList", false);
  const std::string base =
      Write({"DONEGONE", "http://h/e", "e", "Done", false, false}, "2004-03-05 10:00:00");
  system->UpdateGridInfo();
  ASSERT_NE(Loaded(base), nullptr);
}

TEST_F(DownloadLoadingTest, ADamagedRecordIsKeptWithItsFilesAndSaysWhy) {
  const velmora::testing::ExpectReports expected; // a damaged record is reported
  const std::string base = Write({"NOURL001", "", "a", "Downloading", false, false}, "2004-03-05 10:00:00");
  WriteWholeFile(base + ".100", "some part");
  system->UpdateGridInfo();
  const TLocalDownloadinfo *record = Loaded(base);
  ASSERT_NE(record, nullptr);
  EXPECT_TRUE(record->Damaged());
  EXPECT_EQ(record->Status, record->LoadError);
  EXPECT_EQ(record->StatusImage, kStatusCodeError);
  EXPECT_TRUE(std::filesystem::exists(base + ".dat"));
  EXPECT_EQ(ReadWholeFile(base + ".100"), "some part");
  // It cannot be started, only deleted.
  system->ResumeDownloads(system->AllRecords());
  EXPECT_TRUE(system->ActiveDownloaders().empty());
  system->DeleteItems(system->AllRecords(), false);
  EXPECT_FALSE(std::filesystem::exists(base + ".dat"));
  EXPECT_FALSE(std::filesystem::exists(base + ".100"));
}

TEST_F(DownloadLoadingTest, RecordsLoadInTheOrderTheyWereAdded) {
  const std::string later =
      Write({"AAAAAAAA", "http://h/later", "l", "Queued", false, false}, "2004-03-06 08:00:00");
  const std::string earlier =
      Write({"ZZZZZZZZ", "http://h/earlier", "e", "Queued", false, false}, "2004-03-05 08:00:00");
  system->UpdateGridInfo();
  ASSERT_EQ(system->AllRecords().Count(), 2u);
  EXPECT_EQ(system->AllRecords().Get(0)->TempFileName, earlier);
  EXPECT_EQ(system->AllRecords().Get(1)->TempFileName, later);
  system->UpdateGridInfo();
  EXPECT_EQ(system->AllRecords().Count(), 2u) << "a second load adds nothing twice";
}

TEST_F(DownloadLoadingTest, BytesDownloadedCountsThePartFilesOnly) {
  const std::string base =
      Write({"PARTS001", "http://h/a", "a", "Paused", true, false}, "2004-03-05 10:00:00");
  WriteWholeFile(base + ".4", "123456");
  WriteWholeFile(partialFolder() + "/PARTS0012.0", "other record");
  EXPECT_EQ(TDownloadSystem::BytesDownloaded(base), 4 + 6);
}

TEST_F(DownloadSystemTest, NewDownloadsGetTheirFileNameFromTheSettings) {
  auto zips = std::make_unique<TCategory>();
  zips->SetName("Archives");
  zips->SetExtensions("zip");
  zips->SetSaveFolder(dir.file("zips"));
  zips->SetAutoSave(true);
  ASSERT_TRUE(categories.Add(std::move(zips), false));
  WriteWholeFile(saved("taken.bin"), "someone's file");
  server.Hold("held.bin");
  Add("held.bin").LocalFileName = saved("Used.BIN");

  struct Case {
    const char *address;
    bool dateFolders;
    bool showSaveDialog;
    std::string expected; // empty: the Save As choice opens
  };
  const std::vector<Case> cases = {
      {"http://files/plain.bin", false, false, saved("plain.bin")},
      {"http://files/taken.bin", false, false, saved("taken(1).bin")},
      {"http://files/used.bin", false, false, saved("used(1).bin")},
      {"http://files/my%20file.bin", false, false, saved("my file.bin")},
      {"http://files/", false, false, saved("index.html")},
      {"http://files/dated.bin", true, true, saved("03-05-2004/dated.bin")},
      {"http://files/a.zip", true, false, dir.file("zips") + "/a.zip"},
      {"http://files/ask.bin", false, true, ""},
  };
  for (const Case &c : cases) {
    settings.WriteBool("Options", "DateFolders", c.dateFolders);
    settings.WriteBool("Options", "ShowSaveDialog", c.showSaveDialog);
    const std::size_t choices = ui.fileInfoWindows.size();
    server.Hold(TUrl(c.address).FileName);
    TLocalDownloadinfo &record =
        system->AddDownload(std::make_unique<TLocalDownloadinfo>(TUrl(c.address), "", records));
    EXPECT_EQ(record.LocalFileName, c.expected) << c.address;
    EXPECT_EQ(ui.fileInfoWindows.size(), choices + (c.expected.empty() ? 1 : 0)) << c.address;
  }
  EXPECT_TRUE(std::filesystem::is_directory(saved("03-05-2004")));
}

TEST_F(DownloadSystemTest, WithoutASaveAsChoiceTheDefaultFolderIsTaken) {
  settings.WriteBool("Options", "ShowSaveDialog", true);
  ui.offerSaveAs = false;
  server.Serve("a.bin", "content");
  TLocalDownloadinfo &a = Add("a.bin");
  EXPECT_EQ(a.LocalFileName, saved("a.bin"));
  EXPECT_TRUE(RunUntilStatus(a, words.Done));
}

} // namespace
} // namespace velmora::testing
