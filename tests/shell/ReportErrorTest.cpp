#include "shell/ReportError.h"

#include "support/ExpectReports.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace velmora;

namespace {

// Runs each test in an empty folder with the given VELMORA_DEBUG, so that any file a report
// might leave behind shows up. Every test here reports on purpose.
class ReportErrorTest : public ::testing::Test {
protected:
  void SetUp() override {
    const char *debug = std::getenv("VELMORA_DEBUG");
    if (debug != nullptr)
      savedDebug_ = debug;
    previousFolder_ = std::filesystem::current_path();
    std::filesystem::current_path(folder_.path());
    unsetenv("VELMORA_DEBUG");
  }
  void TearDown() override {
    EXPECT_TRUE(std::filesystem::is_empty(folder_.path())) << "a report left a file behind";
    std::filesystem::current_path(previousFolder_);
    if (savedDebug_)
      setenv("VELMORA_DEBUG", savedDebug_->c_str(), 1);
    else
      unsetenv("VELMORA_DEBUG");
  }

  velmora::testing::ExpectReports expected_;
  velmora::testing::TempDir folder_;
  std::filesystem::path previousFolder_;
  std::optional<std::string> savedDebug_;
};

TEST_F(ReportErrorTest, GuardedAbsorbsFailuresAndReturnsTheFallback) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(Guarded("function F : integer", []() -> int { throw std::runtime_error("boom"); }), 0);
  EXPECT_EQ(Guarded("function G : string", []() -> std::string { throw 42; }), "");
  EXPECT_EQ(Guarded(
                "function H : integer", []() -> int { throw std::runtime_error("x"); }, -1),
            -1);
  EXPECT_EQ(Guarded(
                "function I : integer", [] { return 7; }, -1),
            7);
  int steps = 0;
  EXPECT_FALSE(GuardedVoid("procedure P", [&] {
    ++steps;
    throw std::logic_error("stop");
  }));
  EXPECT_EQ(steps, 1);
  EXPECT_TRUE(GuardedVoid("procedure Q", [&] { ++steps; }));
  EXPECT_EQ(steps, 2);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << "reports are silent without VELMORA_DEBUG";
}

TEST_F(ReportErrorTest, ReportsMayNestInsideAnotherCatchAll) {
  ::testing::internal::CaptureStderr();
  const bool outer = GuardedVoid("procedure Outer", [] {
    GuardedVoid("procedure Inner", [] { throw std::runtime_error("inner"); });
    throw std::runtime_error("outer");
  });
  EXPECT_FALSE(outer);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(ReportErrorTest, DebugSettingWritesReportsToStandardError) {
  struct Case {
    const char *value;
    bool reported;
  };
  for (const Case &c : {Case{"1", true}, Case{"0", false}, Case{"yes", false}, Case{"", false}}) {
    setenv("VELMORA_DEBUG", c.value, 1);
    ::testing::internal::CaptureStderr();
    GuardedVoid("procedure TDownloader.CreateParts", [] { throw std::runtime_error("disk full"); });
    ReportError("function TLDIList.FileInUse(fileName : string) : boolean");
    const std::string written = ::testing::internal::GetCapturedStderr();
    if (c.reported) {
      EXPECT_NE(written.find("procedure TDownloader.CreateParts: disk full"), std::string::npos) << written;
      EXPECT_NE(written.find("function TLDIList.FileInUse(fileName : string) : boolean"), std::string::npos);
    } else {
      EXPECT_EQ(written, "") << "VELMORA_DEBUG=" << c.value;
    }
  }
}

TEST_F(ReportErrorTest, WorkerThreadsMayReport) {
  const uint64_t before = ReportCount();
  std::vector<std::thread> workers;
  int absorbed[4] = {};
  for (int &count : absorbed)
    workers.emplace_back([&count] {
      for (int i = 0; i < 200; ++i)
        count += Guarded(
            "function TMirrorPing.Ping : integer", []() -> int { throw std::runtime_error("x"); }, 1);
    });
  for (std::thread &worker : workers)
    worker.join();
  for (int count : absorbed)
    EXPECT_EQ(count, 200);
  EXPECT_EQ(ReportCount(), before + 800) << "no report is lost between threads";
}

TEST_F(ReportErrorTest, KeepsACountAndTheLastReportsInMemory) {
  const uint64_t before = ReportCount();
  ReportError("procedure First");
  GuardedVoid("procedure Second", [] { throw std::runtime_error("why"); });
  EXPECT_EQ(ReportCount(), before + 2);
  std::vector<std::string> recent = RecentReports();
  ASSERT_GE(recent.size(), 2U);
  EXPECT_EQ(recent[recent.size() - 2], "procedure First");
  EXPECT_EQ(recent.back(), "procedure Second: why");

  for (size_t i = 0; i < kKeptReports + 10; ++i)
    ReportError("procedure Many", std::to_string(i));
  recent = RecentReports();
  ASSERT_EQ(recent.size(), kKeptReports) << "the record is bounded";
  EXPECT_EQ(recent.front(), "procedure Many: 10");
  EXPECT_EQ(recent.back(), "procedure Many: " + std::to_string(kKeptReports + 9));
  EXPECT_EQ(ReportCount(), before + 2 + kKeptReports + 10);
}

} // namespace
