#include "app/TerminalUi.h"
#include "engine/Downloader.h"
#include "platform/SettingsDatabase.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace velmora {
namespace {

// No protocol at all: the downloaders only show their records.
class NoParts : public IPartDownloaderFactory {
public:
  std::unique_ptr<TPartDownloader> CreatePartDownloader(const std::string &, const std::string &, int64_t,
                                                        int64_t) override {
    return nullptr;
  }
};

class TerminalUiTest : public ::testing::Test {
protected:
  ~TerminalUiTest() override { static_cast<void>(std::fclose(file)); }

  std::string Output() {
    static_cast<void>(std::fflush(file));
    std::string text(static_cast<std::size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    text.resize(std::fread(text.data(), 1, text.size(), file));
    static_cast<void>(std::fseek(file, 0, SEEK_END));
    return text;
  }
  TLocalDownloadinfo &Record(const std::string &name) {
    records.push_back(
        std::make_unique<TLocalDownloadinfo>(TUrl("http://h/" + name), dir.file(name), recordContext));
    records.back()->LocalFileName = dir.file("out/" + name);
    return *records.back();
  }

  testing::TempDir dir;
  std::FILE *file = std::tmpfile();
  TConstants words;
  platform::EventLoop loop;
  std::unique_ptr<platform::SettingsDatabase> database = platform::SettingsDatabase::OpenInMemory();
  TSettingsStore settings{*database};
  NoParts factory;
  TDownloaderContext context{loop, settings, words, factory, {}};
  TRecordContext recordContext{words, nullptr, nullptr, [this] { return dir.path().string(); }};
  std::vector<std::unique_ptr<TLocalDownloadinfo>> records;
};

TEST_F(TerminalUiTest, OnATerminalTheProgressLinesAreRedrawnInPlace) {
  TTerminalUi ui(words, file, true, false);
  TLocalDownloadinfo &a = Record("a.bin");
  a.FileSize = 1000;
  TDownloader first(context, a, 1, false, true);
  TDownloader second(context, Record("b.bin"), 1, false, true);
  ui.ShowProgress({&first, &second});
  const std::string drawn = Output();
  EXPECT_NE(drawn.find("a.bin  Contacting host  0%  0 B of 1000 B"), std::string::npos) << drawn;
  EXPECT_NE(drawn.find("\nb.bin  Contacting host"), std::string::npos) << drawn;
  ui.Say("a line");
  EXPECT_EQ(Output().substr(drawn.size()), "\033[2A\r\033[Ja line\n") << "the lines go before the message";
  ui.ShowProgress({&first});
  ui.Finish();
  EXPECT_TRUE(Output().ends_with("\033[1A\r\033[J"));
}

TEST_F(TerminalUiTest, ALineTellsEveryNewStatusWordButNotTheJoiningPercentage) {
  TTerminalUi ui(words, file, false, false);
  TLocalDownloadinfo &a = Record("a.bin");
  for (const std::string &status :
       {words.Queued, words.Queued, words.Downloading, words.CombiningFiles + " (50%)", words.Done}) {
    a.SetStatus(status);
    a.StatusImage = status == words.Done ? kStatusCodeDone : kStatusCodeDownloading;
    ui.UpdateRow(a);
  }
  a.SetStatus(words.FileNotFound);
  a.StatusImage = kStatusCodeError;
  ui.UpdateRow(a);
  EXPECT_EQ(Output(),
            "a.bin: Queued\na.bin: Downloading\nDone: " + a.LocalFileName + "\na.bin: File not found\n");
}

TEST_F(TerminalUiTest, QuietShowsOnlyErrors) {
  TTerminalUi ui(words, file, false, true);
  TLocalDownloadinfo &a = Record("a.bin");
  a.SetStatus(words.Done);
  a.StatusImage = kStatusCodeDone;
  ui.UpdateRow(a);
  a.SetStatus("Service Unavailable");
  a.StatusImage = kStatusCodeError;
  ui.UpdateRow(a);
  EXPECT_EQ(Output(), "a.bin: Service Unavailable\n");
}

} // namespace
} // namespace velmora
