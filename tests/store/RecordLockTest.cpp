#include "store/RecordLock.h"
#include "store/RecordLeftovers.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

using namespace velmora;
using velmora::testing::TempDir;
using velmora::testing::WriteWholeFile;
namespace fs = std::filesystem;

namespace {

TEST(RecordLock, OneHolderAtATimeAndTheFileGoesWithItsRecord) {
  TempDir dir;
  const std::string base = dir.file("REC");
  WriteWholeFile(base + ".dat", "[Options]\n");
  EXPECT_FALSE(TRecordLock::InUse(base)) << "no lock file yet";
  EXPECT_FALSE(fs::exists(base + ".lock")) << "asking creates nothing";

  TRecordLock::TAttempt first = TRecordLock::TryLock(base);
  ASSERT_EQ(first.Outcome, TRecordLock::rlLocked) << first.Error;
  EXPECT_TRUE(TRecordLock::InUse(base));
  // flock conflicts between open files, so a second lock of this same process is refused too.
  EXPECT_EQ(TRecordLock::TryLock(base).Outcome, TRecordLock::rlInUse);

  first.Lock.reset();
  EXPECT_FALSE(TRecordLock::InUse(base));
  EXPECT_TRUE(fs::exists(base + ".lock")) << "the record is still there, so is its lock file";

  TRecordLock::TAttempt again = TRecordLock::TryLock(base);
  ASSERT_EQ(again.Outcome, TRecordLock::rlLocked);
  fs::remove(base + ".dat");
  again.Lock.reset();
  EXPECT_FALSE(fs::exists(base + ".lock")) << "a deleted record leaves no lock file";
}

TEST(RecordLock, AFolderThatCannotHoldTheLockFileIsAnError) {
  TempDir dir;
  const TRecordLock::TAttempt attempt = TRecordLock::TryLock(dir.file("missing/REC"));
  EXPECT_EQ(attempt.Outcome, TRecordLock::rlFailed);
  EXPECT_NE(attempt.Error.find("missing/REC.lock"), std::string::npos) << attempt.Error;
}

TEST(RecordSaveLeftovers, OnlyOldTemporaryFilesOfFreeRecordsGo) {
  TempDir dir;
  const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(5);
  const char *const oldFiles[] = {
      "REC.dat.tmp-AbC123",   // a leftover
      "REC.dat.tmp-AbC12",    // not mkstemp's pattern
      "REC.dat.tmp-AbC1234",  //
      "REC.dat.tmp-AbC12!",   //
      ".dat.tmp-AbC123",      // no record name
      "REC.0",                // a part file
      "REC.dat",              // the record
      "HELD.dat.tmp-abcdef",  // its record is held by a downloader
      "OTHER.txt.tmp-abcdef", // not a record's
  };
  for (const char *name : oldFiles) {
    WriteWholeFile(dir.file(name), "x");
    fs::last_write_time(dir.file(name), old);
  }
  WriteWholeFile(dir.file("NEW.dat.tmp-xyz789"), "a save under way");
  fs::create_directory(dir.file("DIR.dat.tmp-abcdef"));
  fs::last_write_time(dir.file("DIR.dat.tmp-abcdef"), old);
  const TRecordLock::TAttempt held = TRecordLock::TryLock(dir.file("HELD"));
  ASSERT_EQ(held.Outcome, TRecordLock::rlLocked);

  EXPECT_EQ(RemoveRecordSaveLeftovers(dir.path().string()), 1);
  std::set<std::string> left;
  for (const auto &entry : fs::directory_iterator(dir.path()))
    left.insert(entry.path().filename().string());
  EXPECT_EQ(left.count("REC.dat.tmp-AbC123"), 0u);
  EXPECT_EQ(left.size(), std::size(oldFiles) - 1 + 3) << "the young file, the folder and HELD.lock stay";
  EXPECT_EQ(RemoveRecordSaveLeftovers(dir.file("no such folder")), 0);
}

} // namespace
