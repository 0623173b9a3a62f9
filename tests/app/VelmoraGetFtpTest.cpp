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
    const pid_t pid = Spawn({"-n", "8", url});
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    kill(pid, SIGKILL);
    EXPECT_EQ(Wait(pid), -SIGKILL);
  }
  ASSERT_EQ(Run({"-n", "8", url}), 0);
  EXPECT_TRUE(ReadWholeFile(out.path() / "kill.bin") == content);
}

} // namespace
} // namespace velmora
