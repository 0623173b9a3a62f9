#include "engine/CombineParts.h"
#include "platform/SettingsDatabase.h"
#include "platform/Tick.h"
#include "store/Registry.h"
#include "support/LoopRunner.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sys/stat.h>
#include <thread>

using velmora::TCombineOutcome;
using velmora::TCombineParts;
using velmora::TSettingsStore;
using velmora::VirusCheckCommand;
using velmora::platform::EventLoop;
using velmora::platform::MonotonicMilliseconds;
using velmora::platform::SettingsDatabase;
using velmora::testing::ReadWholeFile;
using velmora::testing::RunUntil;
using velmora::testing::TempDir;
using velmora::testing::WriteWholeFile;
namespace fs = std::filesystem;

namespace {

class CombinePartsTest : public ::testing::Test {
protected:
  CombinePartsTest() : stem(dir.file("dl1")), local(dir.file("done/file.bin")) {}
  void TearDown() override {
    loop.runOnce(0);
    EXPECT_EQ(loop.registeredCount(), 0u);
  }

  TCombineParts::THandlers recordingHandlers() {
    TCombineParts::THandlers handlers;
    handlers.OnStatus = [this](const std::string &status) {
      EXPECT_EQ(std::this_thread::get_id(), loopThread);
      statuses.push_back(status);
    };
    handlers.OnMessage = [this](const std::string &message) { messages.push_back(message); };
    handlers.OnFilesCombined = [this](const TCombineOutcome &result) {
      EXPECT_EQ(std::this_thread::get_id(), loopThread);
      outcome = result;
      loop.releaseLater(std::move(combiner)); // as the download system lets it go
    };
    return handlers;
  }
  void combine(int64_t size, TCombineParts::THandlers handlers) {
    combiner = std::make_unique<TCombineParts>(loop, settings, TCombineParts::TRecord{local, stem, size},
                                               std::move(handlers));
    ASSERT_TRUE(RunUntil(loop, [this] { return outcome.has_value(); }));
  }
  void enableVirusCheck(const std::string &program, const std::string &parameters) {
    settings.WriteBool("Options", "VirusChecking", true);
    settings.WriteString("Options", "AntivirusExecutablePath", program);
    settings.WriteString("Options", "AntivirusExecutableParameters", parameters);
  }

  TempDir dir;
  const std::string stem, local;
  EventLoop loop;
  const std::thread::id loopThread = std::this_thread::get_id();
  std::unique_ptr<SettingsDatabase> database = SettingsDatabase::OpenInMemory();
  TSettingsStore settings{*database};
  std::unique_ptr<TCombineParts> combiner;
  std::vector<std::string> statuses, messages;
  std::optional<TCombineOutcome> outcome;
};

TEST_F(CombinePartsTest, StatusTextsReachTheLoopAsThePercentageChanges) {
  WriteWholeFile(stem + ".0", std::string(100, 'a'));
  WriteWholeFile(stem + ".100", std::string(50, 'b'));
  combine(150, recordingHandlers());
  EXPECT_EQ(statuses, (std::vector<std::string>{"Combining files (0%)", "Combining files (67%)",
                                                "Combining files (100%)"}));
  ASSERT_TRUE(outcome->Combined) << outcome->Message;
  EXPECT_TRUE(messages.empty());
  EXPECT_EQ(ReadWholeFile(local), std::string(100, 'a') + std::string(50, 'b'));
  EXPECT_FALSE(fs::exists(stem + ".0"));
  EXPECT_FALSE(fs::exists(stem + ".100"));
}

TEST_F(CombinePartsTest, FailureIsShownTranslatedAndReportedAsNotCombinedWithoutVirusCheck) {
  WriteWholeFile(stem + ".0", std::string(100, 'a'));
  enableVirusCheck("velmora-no-such-scanner", "");
  auto handlers = recordingHandlers();
  handlers.Translate = [](std::string_view text) { return "de:" + std::string(text); };
  ::setenv("VELMORA_DEBUG", "1", 1);
  ::testing::internal::CaptureStderr();
  combine(150, std::move(handlers));
  const std::string reports = ::testing::internal::GetCapturedStderr();
  ::unsetenv("VELMORA_DEBUG");
  EXPECT_EQ(statuses, (std::vector<std::string>{"de:Combining files (0%)", "de:Combining files (67%)"}));
  EXPECT_EQ(messages, std::vector<std::string>{"de:Couldn't open " + stem + ".100"});
  EXPECT_FALSE(outcome->Combined);
  EXPECT_EQ(outcome->Message, messages.front());
  EXPECT_EQ(ReadWholeFile(stem + ".0"), std::string(100, 'a'));
  EXPECT_FALSE(fs::exists(local));
  EXPECT_EQ(reports.find("Cannot start"), std::string::npos)
      << "no virus check of a failed join: " << reports;
}

TEST_F(CombinePartsTest, VirusCheckerGetsTheJoinedFileAsOneArgument) {
  const std::string recorded = dir.file("recorded");
  const std::string scanner = dir.file("scan");
  // Records its arguments and the size of the file it was asked to check.
  WriteWholeFile(scanner, "#!/bin/sh\nfor last; do :; done\nprintf '%s\\0' \"$@\" > '" + recorded +
                              ".part'\nwc -c < \"$last\" >> '" + recorded + ".part'\nmv '" + recorded +
                              ".part' '" + recorded + "'\n");
  ASSERT_EQ(::chmod(scanner.c_str(), 0755), 0);
  enableVirusCheck(scanner, "--quick '--log=/tmp/scan log' $(touch " + dir.file("pwned") + ")");
  const std::string hostile = dir.file("it's \"x\"; touch " + dir.file("pwned") + " `id` $(id).bin");
  WriteWholeFile(stem + ".0", std::string(150, 'c'));
  combiner = std::make_unique<TCombineParts>(loop, settings, TCombineParts::TRecord{hostile, stem, 150},
                                             recordingHandlers());
  ASSERT_TRUE(RunUntil(loop, [this] { return outcome.has_value(); }));
  ASSERT_TRUE(outcome->Combined) << outcome->Message;

  const uint64_t deadline = MonotonicMilliseconds() + 10000;
  while (!fs::exists(recorded) && MonotonicMilliseconds() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const std::string expected = std::string("--quick") + '\0' + "--log=/tmp/scan log" + '\0' + "$(touch" +
                               '\0' + dir.file("pwned)") + '\0' + hostile + '\0' + "150\n";
  EXPECT_EQ(ReadWholeFile(recorded), expected);
  EXPECT_FALSE(fs::exists(dir.file("pwned")));
}

TEST_F(CombinePartsTest, VirusCheckCommandIsAnArgumentVector) {
  struct Case {
    std::string path, parameters;
    std::vector<std::string> command;
  };
  const Case cases[] = {
      {"/opt/av/scan", "/quick", {"/opt/av/scan", "/quick", "/d/a b.zip"}},
      {"clamscan", "", {"clamscan", "/d/a b.zip"}},
      {"scan", " -r  \"--exclude=a b\" ", {"scan", "-r", "--exclude=a b", "/d/a b.zip"}},
  };
  for (const Case &c : cases)
    EXPECT_EQ(VirusCheckCommand(c.path, c.parameters, "/d/a b.zip"), c.command) << c.parameters;
}

TEST_F(CombinePartsTest, DestroyedWhileJoiningLeavesAConsistentStateAndReportsNothing) {
  const std::size_t kPartSize = 16 << 20;
  for (int64_t offset = 0; offset < 4 * static_cast<int64_t>(kPartSize); offset += kPartSize)
    WriteWholeFile(stem + "." + std::to_string(offset), std::string(kPartSize, 'p'));
  int reportsAfterDestruction = 0;
  bool destroyed = false;
  TCombineParts::THandlers handlers;
  handlers.OnStatus = [&](const std::string &) { reportsAfterDestruction += destroyed; };
  handlers.OnFilesCombined = [&](const TCombineOutcome &) { reportsAfterDestruction += destroyed; };
  combiner = std::make_unique<TCombineParts>(
      loop, settings, TCombineParts::TRecord{local, stem, 4 * kPartSize}, std::move(handlers));
  loop.runOnce(10); // the join is under way
  combiner.reset();
  destroyed = true;
  for (int i = 0; i < 5; ++i)
    loop.runOnce(0);
  EXPECT_EQ(reportsAfterDestruction, 0);
  const bool combined = fs::exists(local);
  for (int64_t offset = 0; offset < 4 * static_cast<int64_t>(kPartSize); offset += kPartSize)
    EXPECT_EQ(fs::exists(stem + "." + std::to_string(offset)), !combined) << offset;
  if (combined) {
    EXPECT_EQ(fs::file_size(local), 4 * kPartSize);
  }
  const auto folder = fs::path(local).parent_path();
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), {}), combined ? 1 : 0) << "no temporary file";
}

} // namespace
