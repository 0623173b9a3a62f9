#include "app/VelmoraGetRunner.h"
#include "support/FtpPeer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace velmora {
namespace {

using namespace velmora::testing;

// velmora-get fetching ftp:// addresses.
class VelmoraGetFtpTest : public VelmoraGetRunner {};

TEST_F(VelmoraGetFtpTest, EightPartsFromVsftpdAreByteExact) {
  VsftpdPeer vsftpd;
  const std::string content = RandomBytes(3 * 1024 * 1024 + 5, 1);
  std::filesystem::create_directories(vsftpd.root() / "pub");
  WriteWholeFile(vsftpd.root() / "pub" / "eight.bin", content);
  ASSERT_EQ(Run({"-n", "8", vsftpd.url("/pub/eight.bin")}), 0);
  EXPECT_TRUE(ReadWholeFile(out.path() / "eight.bin") == content);
}

// --user and --password, else the address's own user, log each part on to vsftpd as a local user
// to fetch a file that only this user may read; a wrong password ends the download with
// "Couldn't login" and leaves no file.
TEST_F(VelmoraGetFtpTest, PartsLogOnAsTheUserOfTheCommandLineOrOfTheAddress) {
  const LocalFtpUser local;
  VsftpdPeer vsftpd;
  const std::string content = RandomBytes(2 * 1024 * 1024 + 7, 3);
  std::filesystem::create_directories(vsftpd.root() / "pub");
  WriteWholeFile(vsftpd.root() / "pub" / "user.bin", content);
  local.own(vsftpd.root() / "pub" / "user.bin");
  const std::vector<std::string> given = {"--user", local.name(), "--password", local.password()};
  const auto with = [](std::vector<std::string> first, const std::vector<std::string> &then) {
    first.insert(first.end(), then.begin(), then.end());
    return first;
  };
  const struct {
    const char *name;
    std::vector<std::string> arguments;
    int exit;
  } cases[] = {
      {"--user and --password", with(given, {vsftpd.url("/pub/user.bin")}), 0},
      {"the address's user", {vsftpd.url("/pub/user.bin", local.userInfo())}, 0},
      {"the command line before the address", with(given, {vsftpd.url("/pub/user.bin", "nosuchuser:wrong")}),
       0},
      {"--password for the address's user",
       {"--password", local.password(), vsftpd.url("/pub/user.bin", local.userInfo("wrong"))},
       0},
      {"wrong password", {"--user", local.name(), "--password", "wrong", vsftpd.url("/pub/user.bin")}, 1},
      {"wrong password in the address", {vsftpd.url("/pub/user.bin", local.userInfo("wrong"))}, 1},
  };
  int number = 0;
  for (const auto &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string saved = out.file("case" + std::to_string(++number) + ".bin");
    std::string errors;
    EXPECT_EQ(Run(with({"-n", "4", "-o", saved}, c.arguments), errors), c.exit) << errors;
    if (c.exit == 0) {
      EXPECT_TRUE(ReadWholeFile(saved) == content) << "the file differs";
    } else {
      EXPECT_NE(errors.find("Couldn't login"), std::string::npos) << errors;
      EXPECT_FALSE(std::filesystem::exists(saved));
    }
  }
}

TEST_F(VelmoraGetFtpTest, KilledAtAnyPointItResumesToAByteExactFile) {
  PyftpdlibOptions throttled;
  throttled.user = "velmora";
  throttled.password = "s3cret";
  throttled.throttle = 64 * 1024; // per data connection, so each run ends somewhere else
  PyftpdlibPeer pyftpdlib(throttled);
  const std::string content = RandomBytes(4 * 1024 * 1024 + 11, 2);
  std::filesystem::create_directories(pyftpdlib.root() / "pub");
  WriteWholeFile(pyftpdlib.root() / "pub" / "kill.bin", content);
  const std::string url = pyftpdlib.url("/pub/kill.bin");
  for (const int milliseconds : {30, 400, 900}) {
    SCOPED_TRACE(std::to_string(milliseconds) + " ms");
    KillAfter({"-n", "8", url}, std::chrono::milliseconds(milliseconds));
  }
  ASSERT_EQ(Run({"-n", "8", url}), 0);
  EXPECT_TRUE(ReadWholeFile(out.path() / "kill.bin") == content);
}

} // namespace
} // namespace velmora
