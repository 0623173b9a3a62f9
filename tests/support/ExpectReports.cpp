#include "support/ExpectReports.h"

#include "shell/ReportError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

namespace velmora::testing {

namespace {

// Reports made since the running test began, and how many of them a guard expected.
std::atomic<uint64_t> testStart{0};
std::atomic<uint64_t> expected{0};

class ReportListener : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo &) override {
    testStart = ReportCount();
    expected = 0;
  }

  // Runs before the result is printed (end events go to the listeners in reverse order), so
  // the failure belongs to this test.
  void OnTestEnd(const ::testing::TestInfo &) override {
    const uint64_t made = ReportCount() - testStart;
    if (made <= expected)
      return;
    const uint64_t unexpected = made - expected;
    std::string texts;
    const std::vector<std::string> recent = RecentReports();
    const size_t shown = static_cast<size_t>(std::min<uint64_t>(made, recent.size()));
    for (size_t i = recent.size() - shown; i < recent.size(); ++i)
      texts += "\n  " + recent[i];
    ADD_FAILURE() << unexpected << " unexpected report(s) of " << made << " during the test:" << texts;
  }
};

} // namespace

ExpectReports::ExpectReports() : start_(ReportCount()) {}

ExpectReports::~ExpectReports() { expected += ReportCount() - start_; }

void InstallReportListener() { ::testing::UnitTest::GetInstance()->listeners().Append(new ReportListener); }

} // namespace velmora::testing
