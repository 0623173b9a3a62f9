#include "platform/Process.h"
#include "platform/Tick.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using velmora::platform::MonotonicMilliseconds;
using velmora::platform::StartProgram;
using velmora::testing::ReadWholeFile;
using velmora::testing::TempDir;
using velmora::testing::WriteWholeFile;

namespace {

std::string WriteScript(const TempDir &dir, const std::string &body) {
  std::string path = dir.file("script.sh");
  WriteWholeFile(path, "#!/bin/sh\n" + body);
  EXPECT_EQ(::chmod(path.c_str(), 0755), 0);
  return path;
}

// Waits (with a deadline) until the file exists and holds the line the script writes last.
std::string WaitForOutput(const std::string &path) {
  const uint64_t deadline = MonotonicMilliseconds() + 10000;
  while (MonotonicMilliseconds() < deadline) {
    std::string contents = ReadWholeFile(path);
    if (contents.ends_with("end\n"))
      return contents;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return "timed out waiting for " + path;
}

std::vector<std::string> NulSeparated(const std::string &text) {
  std::vector<std::string> parts;
  std::string::size_type start = 0;
  for (auto nul = text.find('\0'); nul != std::string::npos; nul = text.find('\0', start)) {
    parts.push_back(text.substr(start, nul - start));
    start = nul + 1;
  }
  return parts;
}

TEST(Process, ArgumentsReachTheProgramVerbatimAndInjectNothing) {
  TempDir dir;
  const std::string out = dir.file("out");
  const std::string script =
      WriteScript(dir, "printf '%s\\0' \"$@\" > '" + out + "'\necho end >> '" + out + "'\n");
  const std::string pwned = dir.file("pwned");
  const std::vector<std::string> hostile = {"it's \"quoted\"",      "$(touch " + pwned + ")",
                                            "; touch " + pwned,     "`touch " + pwned + "`",
                                            "two  spaces\tand tab", "",
                                            "line\nbreak",          "&& rm -rf / | cat > x *"};
  std::vector<std::string> arguments{script};
  arguments.insert(arguments.end(), hostile.begin(), hostile.end());
  const auto started = StartProgram(arguments);
  ASSERT_TRUE(started) << started.error;
  EXPECT_EQ(NulSeparated(WaitForOutput(out)), hostile);
  EXPECT_FALSE(std::filesystem::exists(pwned));
}

TEST(Process, EndedChildIsReapedNotLeftAsZombie) {
  TempDir dir;
  const auto started = StartProgram({"true"});
  ASSERT_TRUE(started) << started.error;
  // A zombie still answers kill(pid, 0); only a reaped process is gone.
  const uint64_t deadline = MonotonicMilliseconds() + 10000;
  while (::kill(started.pid, 0) == 0 && MonotonicMilliseconds() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(::kill(started.pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
}

TEST(Process, ChildHasItsOwnSessionNullInputDefaultSignalsAndNoLeakedDescriptor) {
  TempDir dir;
  const std::string out = dir.file("out");
  const int leaked = ::open("/dev/null", O_RDONLY); // deliberately without O_CLOEXEC
  ASSERT_GE(leaked, 3);
  const auto previousPipe = std::signal(SIGPIPE, SIG_IGN);
  const std::string script = WriteScript(dir, "{ cut -d' ' -f6 /proc/$$/stat\n"
                                              "  readlink /proc/$$/fd/0\n"
                                              "  if [ -e /proc/$$/fd/" +
                                                  std::to_string(leaked) +
                                                  " ]; then echo leaked; else echo closed; fi\n"
                                                  "  grep SigIgn /proc/$$/status | cut -f2\n"
                                                  "  echo end; } > '" +
                                                  out + "'\n");
  const auto started = StartProgram({script});
  (void)std::signal(SIGPIPE, previousPipe);
  ::close(leaked);
  ASSERT_TRUE(started) << started.error;
  std::istringstream lines(WaitForOutput(out));
  std::string session, input, descriptor, ignored;
  std::getline(lines, session);
  std::getline(lines, input);
  std::getline(lines, descriptor);
  std::getline(lines, ignored);
  EXPECT_EQ(session, std::to_string(started.pid));
  EXPECT_EQ(input, "/dev/null");
  EXPECT_EQ(descriptor, "closed");
  EXPECT_EQ(std::stoull(ignored, nullptr, 16) & (1ull << (SIGPIPE - 1)), 0u) << ignored;
}

TEST(Process, ProgramThatCannotStartIsAnErrorNamingIt) {
  for (const std::vector<std::string> &arguments :
       {std::vector<std::string>{"velmora-no-such-program", "x"},
        std::vector<std::string>{"/nonexistent/scan"}, std::vector<std::string>{},
        std::vector<std::string>{""}}) {
    const auto started = StartProgram(arguments);
    EXPECT_FALSE(started);
    EXPECT_FALSE(started.error.empty());
    if (!arguments.empty() && !arguments.front().empty()) {
      EXPECT_NE(started.error.find(arguments.front()), std::string::npos) << started.error;
    }
  }
}

} // namespace
