#include "integration/RunFile.h"
#include "platform/Tick.h"
#include "support/ExpectReports.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <thread>

using velmora::Callbrowser;
using velmora::RunFile;
using velmora::platform::MonotonicMilliseconds;
using velmora::testing::ReadWholeFile;
using velmora::testing::TempDir;
using velmora::testing::WriteWholeFile;

namespace {

// Puts a folder of stand-in programs first on PATH; each records its arguments, one per line.
class RunFileTest : public ::testing::Test {
protected:
  void SetUp() override {
    const char *path = std::getenv("PATH");
    savedPath_ = path != nullptr ? path : "";
    ::setenv("PATH", (programs_.path().string() + ":" + savedPath_).c_str(), 1);
  }
  void TearDown() override { ::setenv("PATH", savedPath_.c_str(), 1); }

  std::string addRecorder(const std::string &name) {
    std::string program = programs_.file(name);
    WriteWholeFile(program, "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + output() + ".part'\nmv '" + output() +
                                ".part' '" + output() + "'\n");
    EXPECT_EQ(::chmod(program.c_str(), 0755), 0);
    return program;
  }
  std::string output() const { return programs_.file("arguments"); }

  // The recorded arguments once the program has run, or empty after the deadline.
  std::string waitForArguments() {
    const uint64_t deadline = MonotonicMilliseconds() + 10000;
    while (MonotonicMilliseconds() < deadline) {
      std::string recorded = ReadWholeFile(output());
      if (!recorded.empty()) {
        (void)std::remove(output().c_str());
        return recorded;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return {};
  }

  TempDir programs_;
  std::string savedPath_;
};

TEST_F(RunFileTest, CallbrowserHandsTheTextToXdgOpenAsOneArgument) {
  addRecorder("xdg-open");
  const std::pair<std::string, std::string> cases[] = {
      {"https://example.org/a b?x=1&y=$(id);z", "https://example.org/a b?x=1&y=$(id);z"},
      {"/home/u/My File's \"final\".pdf", "/home/u/My File's \"final\".pdf"},
      {"--manual", "./--manual"}, // never taken for one of xdg-open's options
  };
  for (const auto &[target, expected] : cases) {
    Callbrowser(target);
    EXPECT_EQ(waitForArguments(), expected + "\n") << target;
  }
}

TEST_F(RunFileTest, RunFileStartsTheProgramWithItsArguments) {
  const std::string scanner = addRecorder("scan");
  RunFile({"scan", "--quick", "/tmp/a file; rm -rf ~"});
  EXPECT_EQ(waitForArguments(), "--quick\n/tmp/a file; rm -rf ~\n");
  RunFile({scanner, "by full path"});
  EXPECT_EQ(waitForArguments(), "by full path\n");
}

TEST_F(RunFileTest, MissingProgramsGoToTheErrorReporterOnly) {
  const velmora::testing::ExpectReports expected; // missing programs are reported
  ::setenv("PATH", programs_.path().c_str(), 1);  // no xdg-open there
  ::setenv("VELMORA_DEBUG", "1", 1);
  ::testing::internal::CaptureStderr();
  RunFile({"velmora-no-such-scanner", "x"});
  RunFile({});
  Callbrowser("https://example.org/");
  const std::string reports = ::testing::internal::GetCapturedStderr();
  ::unsetenv("VELMORA_DEBUG");
  EXPECT_NE(reports.find("procedure RunFile(ShellFile: string);: Cannot start velmora-no-such-scanner"),
            std::string::npos)
      << reports;
  EXPECT_NE(reports.find("procedure Callbrowser(strURL: string): Cannot start xdg-open"), std::string::npos)
      << reports;
}

} // namespace
