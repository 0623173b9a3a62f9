#include "store/LocalDownloadInfo.h"
#include "store/Categories.h"

#include "platform/EventLoop.h"
#include "support/ChildProcess.h"
#include "support/ExpectReports.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

using namespace velmora;
using velmora::testing::ExpectSavingSurvivesKill;
using velmora::testing::ReadWholeFile;
using velmora::testing::TempDir;
using velmora::testing::WriteWholeFile;

namespace {

const std::string kFixture = std::string(VELMORA_TESTDATA_DIR) + "/store/record.dat";

std::string German(std::string_view english) {
  static const std::map<std::string, std::string, std::less<>> words{
      {"Paused", "Angehalten"},
      {"Queued", "Wartet"},
      {"Done", "Fertig"},
      {"Downloading", "Lädt"},
      {"Timeout", "Zeitüberschreitung"},
      {"Getting file info", "Frage Dateiinfo"},
      {"Contacting host", "Verbinde"},
      {"Unknown", "Unbekannt"},
  };
  const auto found = words.find(english);
  return found == words.end() ? std::string(english) : found->second;
}

class RecordTest : public ::testing::Test {
protected:
  RecordTest() {
    WriteWholeFile(dir.file("cat.dat"), "Archives\tzip rar\tNo\t/a/\tYes\r\nMusic\tmp3\tNo\t/m/\tYes\r\n");
    categories = std::make_unique<TCategoryList>(dir.file("cat.dat"), TCategoryDefaults{});
  }

  std::unique_ptr<TLocalDownloadinfo> Load(const std::string &baseName, const std::string &url = "") {
    return std::make_unique<TLocalDownloadinfo>(TUrl(url), dir.file(baseName), context);
  }
  std::string Partial() const { return dir.file("Partial Downloads"); }

  TempDir dir;
  TConstants words = InitTranslatedConstants(German);
  TDateTime now = EncodeDateTime(2024, 5, 6, 7, 8, 9);
  std::unique_ptr<TCategoryList> categories;
  TRecordContext context{words,
                         German,
                         nullptr,
                         [this] { return Partial(); },
                         [this] { return now; },
                         TDateOrder::doDayMonthYear};

  void SetUp() override { context.Categories = categories.get(); }
};

TEST_F(RecordTest, ReadsAFileInTheStoredFormat) {
  std::filesystem::copy_file(kFixture, dir.file("AB12CD34.dat"));
  const auto record = Load("AB12CD34");
  EXPECT_FALSE(record->Damaged()) << record->LoadError;
  EXPECT_EQ(record->Url.Url, "http://host/pub/a.zip");
  EXPECT_EQ(record->Url.FileName, "a.zip");
  EXPECT_EQ(record->LocalFileName, "/home/me/Downloads/a.zip");
  EXPECT_EQ(record->Status, "Wartet");
  EXPECT_EQ(record->StatusImage, kStatusCodePaused);
  EXPECT_EQ(record->FileSize, 3221225472LL);
  EXPECT_EQ(record->NumOfParts, 4);
  EXPECT_EQ(record->Category, categories->GetByName("Archives"));
  EXPECT_DOUBLE_EQ(record->LastActivity, EncodeDateTime(2004, 3, 5, 14, 30, 0));
  EXPECT_DOUBLE_EQ(record->Created, EncodeDateTime(2004, 3, 5));
  EXPECT_EQ(record->Description, "  two blanks before, a tab\tinside");
  EXPECT_EQ(record->RetryTimer, nullptr);
}

TEST_F(RecordTest, UnreadableValuesTakeTheirDefaults) {
  struct Case {
    std::string line;
    std::function<void(const TLocalDownloadinfo &)> check;
  };
  const Case cases[] = {
      {"FileSize=0x1F", [](auto &r) { EXPECT_EQ(r.FileSize, 31); }},
      {"FileSize=$10", [](auto &r) { EXPECT_EQ(r.FileSize, 16); }},
      {"FileSize=-1", [](auto &r) { EXPECT_EQ(r.FileSize, -1); }},
      {"FileSize=12kB", [](auto &r) { EXPECT_EQ(r.FileSize, 0); }},
      {"FileSize=99999999999999999999", [](auto &r) { EXPECT_EQ(r.FileSize, 0); }},
      {"FileSize=0x", [](auto &r) { EXPECT_EQ(r.FileSize, 0); }},
      {"NumOfParts=many", [](auto &r) { EXPECT_EQ(r.NumOfParts, -1); }},
      {"NumOfParts=", [](auto &r) { EXPECT_EQ(r.NumOfParts, -1); }},
      {"NumOfParts=5000000000", [](auto &r) { EXPECT_EQ(r.NumOfParts, 5000000000LL); }},
      {"Category=Nowhere", [](auto &r) { EXPECT_EQ(r.Category, nullptr); }},
      {"Category=MUSIC", [this](auto &r) { EXPECT_EQ(r.Category, categories->GetByName("Music")); }},
      {"Created=soon", [this](auto &r) { EXPECT_DOUBLE_EQ(r.Created, now); }},
      {"LastActivity=3/25/2004 2:30:00 PM",
       [](auto &r) { EXPECT_DOUBLE_EQ(r.LastActivity, EncodeDateTime(2004, 3, 25, 14, 30, 0)); }},
      {"Status=Timeout",
       [](auto &r) {
         EXPECT_EQ(r.Status, "Zeitüberschreitung");
         EXPECT_EQ(r.StatusImage, kStatusCodeError);
       }},
      {"Status=Downloading", [](auto &r) { EXPECT_EQ(r.StatusImage, kStatusCodeDownloading); }},
      {"Status=Gone fishing", [](auto &r) { EXPECT_EQ(r.StatusImage, kStatusCodeError); }},
      {"status=Done", [](auto &r) { EXPECT_EQ(r.Status, "Fertig"); }}, // keys match without case
  };
  int n = 0;
  for (const Case &c : cases) {
    const std::string base = "CASE" + std::to_string(n++);
    WriteWholeFile(dir.file(base + ".dat"), "[options]\nURL=http://host/f.bin\n" + c.line + "\n");
    const auto record = Load(base);
    SCOPED_TRACE(c.line);
    EXPECT_FALSE(record->Damaged());
    c.check(*record);
  }
}

TEST_F(RecordTest, NewRecordGetsAFreshNameAndDefaults) {
  const TLocalDownloadinfo record(TUrl("http://host/a.zip"), "", context);
  EXPECT_TRUE(std::filesystem::is_directory(Partial())) << "the folder is created";
  EXPECT_EQ(std::filesystem::path(record.TempFileName).parent_path(), Partial());
  EXPECT_EQ(std::filesystem::path(record.TempFileName).filename().string().size(), 8u);
  EXPECT_FALSE(record.Damaged());
  EXPECT_EQ(record.Url.Host, "host");
  EXPECT_EQ(record.Status, "");
  EXPECT_EQ(record.StatusImage, kStatusCodeError);
  EXPECT_EQ(record.NumOfParts, -1);
  EXPECT_EQ(record.FileSize, 0);
  EXPECT_DOUBLE_EQ(record.Created, now);
  EXPECT_DOUBLE_EQ(record.LastActivity, now);
  EXPECT_FALSE(std::filesystem::exists(record.DatFileName())) << "nothing is written back by loading";
}

TEST_F(RecordTest, RoundTripsThroughItsFile) {
  struct Case {
    std::string url, localFile, status, description;
    int64_t fileSize, parts;
    std::string category;
  };
  const Case cases[] = {
      {"http://host/pub/a.zip", "/home/me/a.zip", "Angehalten", "", 5LL << 32, 12, "Archives"},
      {"ftp://u:p@ss@host/big.iso", "/x/big.iso", "Fertig", "  blanks, \ttab, = and [brackets] ", -1, -1, ""},
      {"www.host/get.php?f=a.zip", "", "Wartet", "Ünïcödé ✓", 0, 0, "Music"},
  };
  int n = 0;
  for (const Case &c : cases) {
    const std::string base = "RT" + std::to_string(n++);
    TLocalDownloadinfo record(TUrl(c.url), dir.file(base), context);
    record.LocalFileName = c.localFile;
    record.SetStatus(c.status);
    record.Description = c.description;
    record.FileSize = c.fileSize;
    record.NumOfParts = c.parts;
    record.Category = categories->GetByName(c.category);
    record.LastActivity = EncodeDateTime(2023, 1, 2, 3, 4, 5);
    record.Created = EncodeDateTime(2022, 6, 7);
    ASSERT_TRUE(record.SaveDatFile());

    const auto back = Load(base, "http://other/");
    SCOPED_TRACE(c.url);
    EXPECT_EQ(back->Url.Url, c.url);
    EXPECT_EQ(back->LocalFileName, c.localFile);
    EXPECT_EQ(back->Status, c.status);
    EXPECT_EQ(back->Description, c.description);
    EXPECT_EQ(back->FileSize, c.fileSize);
    EXPECT_EQ(back->NumOfParts, c.parts);
    EXPECT_EQ(back->Category, record.Category);
    EXPECT_DOUBLE_EQ(back->LastActivity, record.LastActivity);
    EXPECT_DOUBLE_EQ(back->Created, record.Created);
  }
}

TEST_F(RecordTest, WritesTheKeysInOrderWithEnglishStatusWords) {
  struct Case {
    std::string status, stored;
  };
  const Case cases[] = {
      {"Angehalten", "Paused"},
      {"Zeitüberschreitung", "Paused"},
      {"File not found", "Paused"},
      {"Filesize mismatch", "Paused"},
      {"Couldn't connect to host", "Paused"},
      {"Lost connection to server", "Paused"},
      {"Couldn't login", "Paused"},
      {"Frage Dateiinfo", "Downloading"},
      {"Verbinde", "Downloading"},
      {"Resume is not supported", "Resume is not supported"},
      {"Wartet", "Queued"},
      {"Fertig", "Done"},
      {"Combining files (40%)", ""},
      {"Paused", ""}, // the English word is no status under a German vocabulary
  };
  for (const Case &c : cases) {
    TLocalDownloadinfo record(TUrl("http://host/a.zip"), dir.file("ORDER"), context);
    record.SetStatus(c.status);
    record.LastActivity = EncodeDateTime(2004, 3, 5, 14, 30, 0);
    record.Created = EncodeDateTime(2004, 3, 5);
    record.Category = categories->GetByName("Music");
    std::filesystem::remove(record.DatFileName());
    ASSERT_TRUE(record.SaveDatFile());
    EXPECT_EQ(ReadWholeFile(record.DatFileName()), "[Options]\n"
                                                   "URL=http://host/a.zip\n"
                                                   "LocalFileName=\n"
                                                   "Status=" +
                                                       c.stored +
                                                       "\n"
                                                       "FileSize=0\n"
                                                       "NumOfParts=-1\n"
                                                       "Category=Music\n"
                                                       "LastActivity=2004-03-05 14:30:00\n"
                                                       "Created=2004-03-05 00:00:00\n"
                                                       "Description=\n")
        << c.status;
  }
}

TEST_F(RecordTest, SaveKeepsOtherSectionsAndKeys) {
  WriteWholeFile(dir.file("KEEP.dat"), "[Options]\r\nURL=http://host/a\r\nExtra=1\r\n[Other]\r\nx=y\r\n");
  auto record = Load("KEEP");
  record->Description = "new";
  ASSERT_TRUE(record->SaveDatFile());
  const std::string text = ReadWholeFile(dir.file("KEEP.dat"));
  EXPECT_NE(text.find("Extra=1"), std::string::npos);
  EXPECT_NE(text.find("[Other]"), std::string::npos);
  EXPECT_NE(text.find("x=y"), std::string::npos);
  EXPECT_EQ(Load("KEEP")->Description, "new");
}

TEST_F(RecordTest, ADamagedRecordFileIsKeptAndReported) {
  struct Case {
    std::string contents, problem;
  };
  const Case cases[] = {
      {"[Options]\r\nLocalFileName=/x/a.zip\r\nStatus=Paused\r\n", "holds no URL"},
      {"[Options]\r\nURL=\r\n", "holds no URL"},
      {"just some text\n", "holds no URL"},
      {"[Options]\nURL=mailto:me@host\n", "no address that can be downloaded"},
      {"[Options]\nURL=http://host/a\x01\n", "no address that can be downloaded"},
  };
  for (const Case &c : cases) {
    WriteWholeFile(dir.file("BAD.dat"), c.contents);
    WriteWholeFile(dir.file("BAD.0"), "part");
    auto record = Load("BAD", "http://given/x.zip");
    SCOPED_TRACE(c.contents);
    EXPECT_TRUE(record->Damaged());
    EXPECT_NE(record->LoadError.find(c.problem), std::string::npos) << record->LoadError;
    EXPECT_NE(record->LoadError.find(dir.file("BAD.dat")), std::string::npos);
    const platform::FileResult saved = record->SaveDatFile();
    EXPECT_FALSE(saved);
    EXPECT_EQ(ReadWholeFile(dir.file("BAD.dat")), c.contents);
    EXPECT_TRUE(std::filesystem::exists(dir.file("BAD.0")));
  }
  // Without a URL key the URL given to the constructor stays.
  WriteWholeFile(dir.file("NOURL.dat"), "[Options]\nLocalFileName=/x/a.zip\n");
  const auto record = Load("NOURL", "http://given/x.zip");
  EXPECT_EQ(record->Url.Host, "given");
  EXPECT_EQ(record->LocalFileName, "/x/a.zip");
}

TEST_F(RecordTest, SaveRefusesLineBreaksAndKeepsTheOldFile) {
  auto record = Load("LINES", "http://host/a.zip");
  ASSERT_TRUE(record->SaveDatFile());
  const std::string before = ReadWholeFile(record->DatFileName());
  struct Case {
    std::function<void(TLocalDownloadinfo &)> spoil;
    std::string what;
  };
  const Case cases[] = {
      {[](auto &r) { r.Description = "two\nlines"; }, "description"},
      {[](auto &r) { r.Description = std::string("nul\0byte", 8); }, "description"},
      {[](auto &r) { r.LocalFileName = "/x/a\rb"; }, "local file name"},
      {[](auto &r) { r.Url = TUrl("http://host/a\r\nInjected: 1"); }, "URL"},
  };
  for (const Case &c : cases) {
    auto spoilt = Load("LINES");
    c.spoil(*spoilt);
    const platform::FileResult saved = spoilt->SaveDatFile();
    EXPECT_FALSE(saved) << c.what;
    EXPECT_NE(saved.error.find(c.what), std::string::npos) << saved.error;
    EXPECT_EQ(ReadWholeFile(record->DatFileName()), before);
  }
  // A record without a folder has no temporary name to make: reported, and nothing is saved.
  const velmora::testing::ExpectReports noFolder;
  TLocalDownloadinfo nameless(TUrl("http://host/a"), "", TRecordContext{words, German, nullptr, nullptr});
  EXPECT_EQ(nameless.TempFileName, "");
  EXPECT_FALSE(nameless.SaveDatFile());
}

TEST_F(RecordTest, SetStatusStampsTheEndOfActivity) {
  struct Case {
    std::string from, to;
    bool stamped;
  };
  const Case cases[] = {
      {"Lädt", "Angehalten", true},      {"Verbinde", "Frage Dateiinfo", true},
      {"Frage Dateiinfo", "Lädt", true}, {"Lädt", "Lädt", false},
      {"Angehalten", "Lädt", false},     {"Wartet", "Fertig", false},
      {"Downloading", "Paused", false}, // English words are no statuses here
  };
  for (const Case &c : cases) {
    auto record = Load("STATUS", "http://host/a");
    record->Status = c.from;
    record->LastActivity = 1.0;
    record->SetStatus(c.to);
    EXPECT_EQ(record->Status, c.to);
    EXPECT_DOUBLE_EQ(record->LastActivity, c.stamped ? now : 1.0) << c.from << " -> " << c.to;
  }
}

TEST_F(RecordTest, DeletesItsFilesOnly) {
  const std::string base = "K3Y4BASE";
  for (const char *name : {"K3Y4BASE.dat", "K3Y4BASE.0", "K3Y4BASE.1048576", "K3Y4BASE", "K3Y4BASE.tmp",
                           "K3Y4BASE.dat.old", "K3Y4BASEX.0", "OTHER.0", "k3y4base.0"})
    WriteWholeFile(dir.file(name), "x");
  std::filesystem::create_directory(dir.file("K3Y4BASE.d"));
  auto record = Load(base, "http://host/a");
  EXPECT_TRUE(record->DeletePartFiles());
  std::set<std::string> left;
  for (const auto &entry : std::filesystem::directory_iterator(dir.path()))
    left.insert(entry.path().filename().string());
  EXPECT_EQ(left, (std::set<std::string>{"cat.dat", "K3Y4BASE.dat", "K3Y4BASEX.0", "OTHER.0", "k3y4base.0",
                                         "K3Y4BASE.d"}));
  EXPECT_TRUE(record->DeleteDatFile());
  EXPECT_FALSE(std::filesystem::exists(dir.file("K3Y4BASE.dat")));
  EXPECT_TRUE(record->DeleteDatFile()) << "deleting what is gone is no error";
  EXPECT_TRUE(record->DeletePartFiles());
}

TEST(TempFileName, NeverReusesATakenBaseName) {
  TempDir dir;
  const std::string folder = dir.file("deep/er/folder");
  std::set<std::string> seen;
  for (int i = 0; i < 300; ++i) {
    const std::string name = GetTempFileName(folder);
    ASSERT_EQ(std::filesystem::path(name).parent_path(), folder);
    const std::string base = std::filesystem::path(name).filename().string();
    EXPECT_TRUE(seen.insert(base).second) << base;
    // Any extension, and another letter case, takes the base name.
    WriteWholeFile(name + (i % 2 == 0 ? ".dat" : ".0"), "");
    std::string lower = base;
    for (char &c : lower)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    WriteWholeFile(std::filesystem::path(folder) / (lower + "x.1"), "");
  }
  EXPECT_EQ(GetTempFileName(folder + "/").substr(0, folder.size() + 1), folder + "/");
}

TEST(TempFileName, RandomAlphaNumsKeepTheirAlphabetAndWeighting) {
  EXPECT_EQ(GenerateRandomAlphaNums(0), "");
  EXPECT_EQ(GenerateRandomAlphaNums(-3), "");
  std::map<char, int> counts;
  const std::string text = GenerateRandomAlphaNums(420000);
  ASSERT_EQ(text.size(), 420000u);
  for (char c : text)
    ++counts[c];
  for (const auto &[c, count] : counts)
    EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Y')) << c;
  EXPECT_EQ(counts.count('Z'), 0u);
  // 42 draws a character: "A"-"G" twice, every other one once; 10000 per draw expected.
  for (char c = '0'; c <= '9'; ++c)
    EXPECT_NEAR(counts[c], 10000, 600) << c;
  for (char c = 'A'; c <= 'G'; ++c)
    EXPECT_NEAR(counts[c], 20000, 900) << c;
  for (char c = 'H'; c <= 'Y'; ++c)
    EXPECT_NEAR(counts[c], 10000, 600) << c;
  EXPECT_NE(GenerateRandomAlphaNums(8), GenerateRandomAlphaNums(8)) << "names in a row differ";
}

class RecordListTest : public RecordTest {
protected:
  TLocalDownloadinfo &Make(const std::string &status, TDateTime lastActivity, TCategory *category,
                           const std::string &localFile = "") {
    owned.push_back(Load("L" + std::to_string(owned.size()), "http://host/a"));
    owned.back()->Status = status;
    owned.back()->LastActivity = lastActivity;
    owned.back()->Category = category;
    owned.back()->LocalFileName = localFile;
    list.Add(owned.back().get());
    return *owned.back();
  }
  static std::vector<const TLocalDownloadinfo *> Of(const TLDIList &l) {
    return std::vector<const TLocalDownloadinfo *>(l.begin(), l.end());
  }

  std::vector<std::unique_ptr<TLocalDownloadinfo>> owned;
  TLDIList list;
};

TEST_F(RecordListTest, Filters) {
  TCategory *archives = categories->GetByName("Archives");
  TCategory *music = categories->GetByName("Music");
  auto &doneOld = Make("Fertig", 100.0, archives, "C:/Download/A.ZIP");
  auto &paused = Make("Angehalten", 300.0, nullptr, "/x/b");
  auto &doneNew = Make("Fertig", 200.0, music);
  auto &doneEnglish = Make("Done", 250.0, archives);

  EXPECT_EQ(Of(list.GetByCategory(archives)),
            (std::vector<const TLocalDownloadinfo *>{&doneOld, &doneEnglish}));
  EXPECT_EQ(Of(list.GetByCategory(nullptr)), std::vector<const TLocalDownloadinfo *>{&paused});
  EXPECT_EQ(Of(list.GetWithCategory()),
            (std::vector<const TLocalDownloadinfo *>{&doneOld, &doneNew, &doneEnglish}));
  EXPECT_EQ(Of(list.GetNotDone()), (std::vector<const TLocalDownloadinfo *>{&paused, &doneEnglish}));
  EXPECT_EQ(Of(list.GetByStatus("Fertig")), (std::vector<const TLocalDownloadinfo *>{&doneOld, &doneNew}));
  EXPECT_EQ(Of(list.GetByStatus("fertig")), std::vector<const TLocalDownloadinfo *>{});
  EXPECT_EQ(Of(list.GetDoneSince(200.0)), std::vector<const TLocalDownloadinfo *>{&doneNew});
  EXPECT_EQ(Of(list.GetDoneSince(50.0)), (std::vector<const TLocalDownloadinfo *>{&doneOld, &doneNew}));

  EXPECT_TRUE(list.FileInUse("c:/download/a.zip"));
  EXPECT_TRUE(list.FileInUse("/X/B"));
  EXPECT_FALSE(list.FileInUse("/x/b2"));
  EXPECT_FALSE(list.FileInUse("")) << "records without a file name use no file";

  platform::EventLoop loop;
  platform::LoopTimer first(loop), second(loop);
  paused.RetryTimer = &first;
  doneNew.RetryTimer = &first;
  EXPECT_EQ(list.GetByTimer(&first), &doneNew) << "the last record with that timer";
  EXPECT_EQ(list.GetByTimer(&second), nullptr);
  EXPECT_EQ(list.GetByTimer(nullptr), nullptr);

  EXPECT_EQ(list.Get(1), &paused);
  EXPECT_EQ(list.Get(4), nullptr);
  list.Remove(&paused);
  EXPECT_EQ(list.Count(), 3u);
  EXPECT_EQ(list.Get(1), &doneNew);
  list.Remove(&paused);
  EXPECT_EQ(list.Count(), 3u);
}

TEST_F(RecordTest, KilledInTheMiddleOfSavingLeavesOldOrNewFile) {
  auto record = Load("CRASH", "http://host/a.zip");
  ExpectSavingSurvivesKill(record->DatFileName(), [&](int version) {
    record->Description = version == 0 ? "short" : std::string(5000, 'x');
    return record->SaveDatFile().ok;
  });
}

} // namespace
