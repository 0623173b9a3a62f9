#include "platform/SettingsDatabase.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using velmora::platform::SettingsDatabase;
using velmora::platform::SettingType;
using velmora::platform::SettingValue;
using velmora::testing::ReadWholeFile;
using velmora::testing::TempDir;
using velmora::testing::WriteWholeFile;

namespace {

std::unique_ptr<SettingsDatabase> OpenClean(const std::string &path) {
  auto opened = SettingsDatabase::Open(path);
  EXPECT_EQ(opened.problem, "");
  return std::move(opened.database);
}

mode_t ModeOf(const std::string &path) {
  struct stat info {};
  EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 0777;
}

TEST(SettingsDatabase, EveryTypeRoundTripsThroughTheFile) {
  TempDir dir;
  const std::string path = dir.file("settings.db");
  const std::pair<const char *, SettingValue> cases[] = {
      {"zero", SettingValue::Dword(0)},
      {"max", SettingValue::Dword(0xFFFFFFFFu)},
      {"text", SettingValue::Sz("Partial Downloads")},
      {"empty", SettingValue::Sz("")},
      {"nul", SettingValue::Sz(std::string("a\0b", 3))},
      {"expand", SettingValue::ExpandSz("$HOME/x")},
      {"date", SettingValue::Binary(std::string("\x00\x00\x00\x00\x00\x40\xE2\x40", 8))},
      {"nothing", SettingValue::Binary("")},
  };
  {
    auto writer = OpenClean(path);
    for (const auto &[name, value] : cases)
      writer->write("Options", name, value);
  }
  auto reader = OpenClean(path);
  for (const auto &[name, value] : cases)
    EXPECT_EQ(reader->read("Options", name), value) << name;
}

TEST(SettingsDatabase, NamesIgnoreCaseAndWritesReplaceAnyType) {
  auto db = SettingsDatabase::OpenInMemory();
  db->write("Options", "MaxSimultaneousDownloads", SettingValue::Sz("3"));
  db->write("OPTIONS", "maxsimultaneousdownloads", SettingValue::Dword(4));
  EXPECT_EQ(db->read("options", "MAXSIMULTANEOUSDOWNLOADS"), SettingValue::Dword(4));
  EXPECT_EQ(db->read("Other", "MaxSimultaneousDownloads"), std::nullopt);
  EXPECT_EQ(db->read("Options", "Missing"), std::nullopt);

  db->write("Form_Main Position", "Left", SettingValue::Dword(1));
  db->write("Form_Main Position", "Top", SettingValue::Dword(2));
  db->removeValue("form_main position", "LEFT");
  EXPECT_EQ(db->read("Form_Main Position", "Left"), std::nullopt);
  EXPECT_TRUE(db->read("Form_Main Position", "Top").has_value());
  db->removeSection("FORM_MAIN POSITION");
  EXPECT_EQ(db->read("Form_Main Position", "Top"), std::nullopt);
  EXPECT_TRUE(db->read("Options", "MaxSimultaneousDownloads").has_value());
}

TEST(SettingsDatabase, FilesArePrivate) {
  TempDir dir;
  const std::string path = dir.file("settings.db");
  WriteWholeFile(path, "");
  ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
  auto db = OpenClean(path);
  db->write("Options", "HTTPProxyPass", SettingValue::Sz("secret"));
  EXPECT_EQ(ModeOf(path), 0600u);
  EXPECT_EQ(ModeOf(path + "-wal"), 0600u);
}

TEST(SettingsDatabase, DamagedFileIsKeptAsideAndANewOneStarted) {
  TempDir dir;
  const std::string path = dir.file("settings.db");
  const std::string garbage(8192, 'G');
  WriteWholeFile(path, garbage);
  auto opened = SettingsDatabase::Open(path);
  EXPECT_NE(opened.problem.find("damaged"), std::string::npos) << opened.problem;
  opened.database->write("Options", "A", SettingValue::Dword(1));
  EXPECT_EQ(opened.database->read("Options", "A"), SettingValue::Dword(1));
  int keptAside = 0;
  for (const auto &entry : std::filesystem::directory_iterator(dir.path())) {
    if (entry.path().filename().string().rfind("settings.db.broken-", 0) == 0) {
      ++keptAside;
      EXPECT_EQ(ReadWholeFile(entry.path()), garbage);
    }
  }
  EXPECT_EQ(keptAside, 1);
}

TEST(SettingsDatabase, UnusableFileFallsBackToMemoryAndSaysSo) {
  TempDir dir;
  auto opened = SettingsDatabase::Open(dir.file("missing-folder/settings.db"));
  EXPECT_NE(opened.problem.find("missing-folder"), std::string::npos) << opened.problem;
  ASSERT_NE(opened.database, nullptr);
  opened.database->write("Options", "A", SettingValue::Sz("x"));
  EXPECT_EQ(opened.database->read("Options", "A"), SettingValue::Sz("x"));
}

TEST(SettingsDatabase, OversizedValueIsRefusedAndOldValueKept) {
  auto db = SettingsDatabase::OpenInMemory();
  db->write("Options", "A", SettingValue::Sz("old"));
  EXPECT_THROW(db->write("Options", "A", SettingValue::Binary(std::string(65 * 1024 * 1024, 'x'))),
               velmora::platform::SettingsError);
  EXPECT_EQ(db->read("Options", "A"), SettingValue::Sz("old"));
}

// A blob whose first bytes carry the number it was made for, so a reader can tell it apart.
std::string Pattern(uint32_t number) {
  std::string bytes(16384, static_cast<char>('a' + number % 26));
  std::memcpy(bytes.data(), &number, sizeof number);
  return bytes;
}

std::optional<uint32_t> NumberOfPattern(const std::string &bytes) {
  uint32_t number = 0;
  if (bytes.size() < sizeof number)
    return std::nullopt;
  std::memcpy(&number, bytes.data(), sizeof number);
  if (bytes != Pattern(number))
    return std::nullopt;
  return number;
}

// Writes the counter and then its blob, for ever; tells the parent through the pipe once started.
[[noreturn]] void WriteStream(const std::string &path, uint32_t first, int startedPipe) {
  try {
    auto opened = SettingsDatabase::Open(path);
    for (uint32_t i = first; i < first + 10000000; ++i) {
      opened.database->write("Stream", "Counter", SettingValue::Dword(i));
      opened.database->write("Stream", "Blob", SettingValue::Binary(Pattern(i)));
      if (i == first + 3 && ::write(startedPipe, "s", 1) != 1)
        _exit(3);
    }
    _exit(0);
  } catch (...) {
    _exit(2);
  }
}

// Kills and reaps the child however the test ends.
class ChildGuard {
public:
  explicit ChildGuard(pid_t pid) : pid_(pid) {}
  ~ChildGuard() { killNow(); }
  ChildGuard(const ChildGuard &) = delete;
  ChildGuard &operator=(const ChildGuard &) = delete;
  int killNow() {
    int status = 0;
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      pid_ = -1;
    }
    return status;
  }

private:
  pid_t pid_;
};

TEST(SettingsDatabase, WriterKilledMidStreamLeavesAConsistentStore) {
  TempDir dir;
  const std::string path = dir.file("settings.db");
  uint32_t lastSeen = 0;
  for (uint32_t round = 0; round < 5; ++round) {
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const uint32_t first = (round + 1) * 1000000;
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      ::close(pipeEnds[0]);
      WriteStream(path, first, pipeEnds[1]);
    }
    ChildGuard child(pid);
    ::close(pipeEnds[1]);
    pollfd started{pipeEnds[0], POLLIN, 0};
    ASSERT_EQ(::poll(&started, 1, 20000), 1) << "the writer did not start";
    ::close(pipeEnds[0]);

    {
      // Readers of another process work while the writer writes.
      auto reader = OpenClean(path);
      for (int i = 0; i < 20; ++i) {
        auto counter = reader->read("Stream", "Counter");
        ASSERT_TRUE(counter.has_value());
        EXPECT_GE(counter->dword, first);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(3 + 7 * round));
    const int status = child.killNow();
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the writer ended early: " << status;

    auto after = OpenClean(path);
    ASSERT_TRUE(after->integrityOk());
    const auto counter = after->read("Stream", "Counter");
    const auto blob = after->read("Stream", "Blob");
    ASSERT_TRUE(counter.has_value() && blob.has_value());
    const auto blobNumber = NumberOfPattern(blob->data);
    ASSERT_TRUE(blobNumber.has_value()) << "the blob is one of the written values";
    EXPECT_GE(counter->dword, first);
    EXPECT_GT(counter->dword, lastSeen);
    EXPECT_TRUE(*blobNumber == counter->dword || *blobNumber + 1 == counter->dword)
        << "counter " << counter->dword << " blob " << *blobNumber;
    lastSeen = counter->dword;
  }
}

} // namespace
