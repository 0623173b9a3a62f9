#include "platform/PointToPointLinks.h"
#include "platform/PowerOff.h"
#include "platform/Process.h"
#include "platform/RunCommand.h"
#include "platform/Tick.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

namespace velmora::testing {
namespace {

using platform::PointToPointLink;

std::string Script(const TempDir &dir, const std::string &name, const std::string &body) {
  std::string path = dir.file(name);
  WriteWholeFile(path, "#!/bin/sh\n" + body);
  ::chmod(path.c_str(), 0755);
  return path;
}

TEST(RunCommandTest, ReportsOutputStatusAndTimeOut) {
  const platform::CommandResult echoed =
      platform::RunCommand({"sh", "-c", "echo out; echo err >&2; exit 3"}, 5000);
  EXPECT_TRUE(echoed.started);
  EXPECT_EQ(echoed.exitStatus, 3);
  EXPECT_EQ(echoed.output, "out\nerr\n");
  EXPECT_EQ(echoed.failureText("sh"), "sh ended with status 3: err");

  const uint64_t started = platform::MonotonicMilliseconds();
  const platform::CommandResult slow = platform::RunCommand({"sh", "-c", "sleep 30 & sleep 30"}, 200);
  EXPECT_TRUE(slow.timedOut);
  EXPECT_LT(platform::MonotonicMilliseconds() - started, 5000u) << "killed, with what it started";

  const platform::CommandResult missing = platform::RunCommand({"velmora-no-such-program"}, 1000);
  EXPECT_FALSE(missing.started);
  EXPECT_EQ(missing.startError, ENOENT);

  const platform::CommandResult chatty =
      platform::RunCommand({"sh", "-c", "yes | head -c 100000"}, 5000, 1000);
  EXPECT_TRUE(chatty.succeeded());
  EXPECT_EQ(chatty.output.size(), 1000u);
}

TEST(PointToPointLinksTest, TerseLinesSplitAtUnescapedColons) {
  EXPECT_EQ(platform::SplitTerseLine("My\\: Mobile:abc:gsm:ttyUSB0"),
            (std::vector<std::string>{"My: Mobile", "abc", "gsm", "ttyUSB0"}));
  EXPECT_EQ(platform::SplitTerseLine("back\\\\slash::pppoe:"),
            (std::vector<std::string>{"back\\slash", "", "pppoe", ""}));
}

// A NetworkManager of every kind of connection, as nmcli shows it, and a bare pppd on ppp1.
class LinuxLinksTest : public ::testing::Test {
protected:
  LinuxLinksTest() {
    for (const char *folder : {"net/ppp0", "net/ppp1", "net/eth0", "net/wlan0", "run", "proc"})
      std::filesystem::create_directories(dir.path() / folder);
    const std::string listing = "Mobile:u-gsm:gsm:ppp0\\n"
                                "Office LAN:u-eth:802-3-ethernet:eth0\\n"
                                "Home Wi-Fi:u-wifi:802-11-wireless:wlan0\\n"
                                "Work VPN:u-vpn:vpn:eth0\\n"
                                "DSL:u-dsl:pppoe:ppp9\\n"
                                "Phone:u-bt:bluetooth:\\n";
    options.nmcli = Script(dir, "nmcli",
                           "echo \"$@\" >> " + dir.file("nmcli.log") + "\n" +
                               "case \"$*\" in *' down '*) exit 0;; esac\n"
                               "printf '" +
                               listing + "'\n");
    options.sysClassNet = dir.file("net");
    options.runFolder = dir.file("run");
    options.procFolder = dir.file("proc");
  }

  TempDir dir;
  platform::LinuxPointToPointLinks::Options options;
};

TEST_F(LinuxLinksTest, OnlyPointToPointLinksAreListed) {
  platform::LinuxPointToPointLinks links(options);
  std::string error;
  EXPECT_EQ(links.EntryNames(error), (std::vector<std::string>{"Mobile", "DSL", "Phone"}));
  EXPECT_EQ(links.ActiveLinks(error), (std::vector<PointToPointLink>{{"Mobile", "u-gsm", "ppp0"},
                                                                     {"DSL", "u-dsl", "ppp9"},
                                                                     {"Phone", "u-bt", ""},
                                                                     {"ppp1", "", "ppp1"}}));
  EXPECT_TRUE(error.empty()) << error;
  EXPECT_EQ(ReadWholeFile(dir.file("nmcli.log")), "-t -f NAME,UUID,TYPE,DEVICE connection show\n"
                                                  "-t -f NAME,UUID,TYPE,DEVICE connection show --active\n");
}

TEST_F(LinuxLinksTest, ConnectionsGoDownByTheirIdentity) {
  options.commandTimeoutMs = 10000;
  platform::LinuxPointToPointLinks links(options);
  EXPECT_EQ(links.HangUp({"Mobile", "u-gsm", "ppp0"}), "");
  EXPECT_EQ(ReadWholeFile(dir.file("nmcli.log")), "-w 5 connection down uuid u-gsm\n");
  EXPECT_TRUE(links.IsUp({"Mobile", "u-gsm", "ppp0"}));
  EXPECT_FALSE(links.IsUp({"Gone", "u-gone", ""}));
}

TEST_F(LinuxLinksTest, ABarePppLinkEndsItsPppdOnlyWhenThePidFileNamesOne) {
  const platform::StartedProgram pppd = platform::StartProgram({"sleep", "30"});
  ASSERT_TRUE(pppd) << pppd.error;
  const std::string pid = std::to_string(pppd.pid);
  WriteWholeFile(dir.file("run/ppp1.pid"), pid + "\nppp1\n");
  std::filesystem::create_directories(dir.path() / "proc" / pid);
  WriteWholeFile(dir.path() / "proc" / pid / "comm", "bash\n");
  platform::LinuxPointToPointLinks links(options);
  EXPECT_NE(links.HangUp({"ppp1", "", "ppp1"}).find("is no pppd"), std::string::npos);
  EXPECT_EQ(::kill(pppd.pid, 0), 0) << "another program is never signalled";

  WriteWholeFile(dir.path() / "proc" / pid / "comm", "pppd\n");
  EXPECT_EQ(links.HangUp({"ppp1", "", "ppp1"}), "");
  const uint64_t deadline = platform::MonotonicMilliseconds() + 5000;
  while (::kill(pppd.pid, 0) == 0 && platform::MonotonicMilliseconds() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_NE(::kill(pppd.pid, 0), 0) << "pppd got SIGTERM";
  EXPECT_TRUE(links.IsUp({"ppp1", "", "ppp1"}));
  std::filesystem::remove(dir.path() / "net" / "ppp1");
  EXPECT_FALSE(links.IsUp({"ppp1", "", "ppp1"}));
  EXPECT_NE(links.HangUp({"ppp7", "", "ppp7"}).find("No pppd"), std::string::npos);
}

TEST_F(LinuxLinksTest, WithoutNetworkManagerOnlyPppInterfacesCount) {
  options.nmcli = dir.file("not-installed");
  platform::LinuxPointToPointLinks links(options);
  std::string error;
  EXPECT_TRUE(links.EntryNames(error).empty());
  EXPECT_EQ(links.ActiveLinks(error),
            (std::vector<PointToPointLink>{{"ppp0", "", "ppp0"}, {"ppp1", "", "ppp1"}}));
  EXPECT_TRUE(error.empty()) << error;

  options.nmcli = Script(dir, "nmcli-broken", "echo 'Error: something odd' >&2\nexit 1\n");
  platform::LinuxPointToPointLinks broken(options);
  broken.ActiveLinks(error);
  EXPECT_NE(error.find("Error: something odd"), std::string::npos) << error;
}

TEST(SystemdPowerTest, AsksForPowerOffWithoutPrompting) {
  TempDir dir;
  const std::string log = dir.file("systemctl.log");
  platform::SystemdPower accepting(Script(dir, "systemctl", "echo \"$@\" > " + log + "\n"));
  EXPECT_EQ(accepting.PowerOff(), "");
  EXPECT_EQ(ReadWholeFile(log), "--no-ask-password poweroff\n");
  platform::SystemdPower refusing(Script(dir, "systemctl-no", "echo 'Access denied' >&2\nexit 1\n"));
  EXPECT_NE(refusing.PowerOff().find("Access denied"), std::string::npos);
}

} // namespace
} // namespace velmora::testing
