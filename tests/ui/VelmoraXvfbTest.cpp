#include "platform/SettingsDatabase.h"
#include "store/Registry.h"
#include "support/ChildProcess.h"
#include "support/PeerServers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <random>
#include <sys/wait.h>
#include <thread>

namespace velmora::testing {
namespace {

using namespace std::chrono_literals;

bool WaitFor(const std::function<bool()> &done, std::chrono::milliseconds deadline) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (std::chrono::steady_clock::now() < end) {
    if (done())
      return true;
    std::this_thread::sleep_for(50ms);
  }
  return done();
}

void Stop(pid_t pid) {
  if (pid <= 0)
    return;
  kill(pid, SIGTERM);
  WaitForChild(pid, 5000ms);
}

// An X server of its own with a window manager, as a desktop session would have.
class XSession {
public:
  XSession() {
    for (int n = 90; n < 140 && display_.empty(); ++n)
      if (!std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)) &&
          !std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock"))
        display_ = ":" + std::to_string(n);
    server_ =
        SpawnChild({"/usr/bin/Xvfb", display_, "-screen", "0", "1024x768x24", "-nolisten", "tcp"}, nullptr);
    const std::string socket = "/tmp/.X11-unix/X" + display_.substr(1);
    ready_ = server_ > 0 && WaitFor([&] { return std::filesystem::exists(socket); }, 10000ms);
    const std::vector<std::string> environment = {"DISPLAY=" + display_, "HOME=/tmp", "PATH=/usr/bin:/bin"};
    if (ready_)
      windowManager_ = SpawnChild({"/usr/bin/openbox"}, &environment);
    std::this_thread::sleep_for(500ms);
  }
  ~XSession() {
    Stop(windowManager_);
    Stop(server_);
  }
  bool ready() const { return ready_ && windowManager_ > 0; }
  const std::string &display() const { return display_; }
  // The whole screen as the user sees it, kept for looking at.
  void Screenshot(const std::string &name) const {
    std::filesystem::create_directories("screenshots");
    const std::vector<std::string> environment = {"DISPLAY=" + display_, "PATH=/usr/bin:/bin"};
    const pid_t shot =
        SpawnChild({"/usr/bin/import", "-window", "root", "screenshots/" + name}, &environment);
    EXPECT_EQ(WaitForChild(shot, 20000ms), 0) << name;
  }
  int Xdotool(const std::vector<std::string> &arguments) const {
    std::vector<std::string> command = {"/usr/bin/xdotool"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const std::vector<std::string> environment = {"DISPLAY=" + display_, "PATH=/usr/bin:/bin"};
    return WaitForChild(SpawnChild(command, &environment), 10000ms);
  }

private:
  std::string display_;
  pid_t server_ = -1, windowManager_ = -1;
  bool ready_ = false;
};

class VelmoraWindowTest : public ::testing::Test {
protected:
  std::vector<std::string> Environment() const {
    return {"DISPLAY=" + x.display(), "HOME=" + dir.path().string(), "VELMORA_HOME=" + dir.file("home"),
            "QT_QPA_PLATFORM=xcb",    "VELMORA_LIST_DUMP=" + dump(), "PATH=/usr/bin:/bin"};
  }
  std::string dump() const { return dir.file("list.txt"); }
  pid_t Start(const std::vector<std::string> &arguments = {}) {
    std::vector<std::string> command = {VELMORA_PROGRAM};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const std::vector<std::string> environment = Environment();
    return SpawnChild(command, &environment, {"", dir.file("velmora.log"), dir.file("velmora.log")});
  }
  bool Shows(const std::string &text) const {
    return WaitFor([&] { return ReadWholeFile(dump()).find(text) != std::string::npos; }, 15000ms);
  }
  void Configure(const std::function<void(TSettingsStore &)> &change) const {
    auto opened = platform::SettingsDatabase::Open(dir.file("home") + "/settings.db");
    TSettingsStore settings(*opened.database);
    change(settings);
  }

  TempDir dir;
  XSession x;
};

TEST_F(VelmoraWindowTest, HandOverDownloadsIntoTheRunningWindow) {
  ASSERT_TRUE(x.ready()) << "Xvfb and openbox are needed";
  NginxPeer nginx;
  std::string contents(1 << 20, '\0');
  std::mt19937 random(17);
  for (char &c : contents)
    c = static_cast<char>(random());
  WriteWholeFile(nginx.filesFolder() / "f.bin", contents);

  const pid_t window = Start();
  ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(dump()); }, 20000ms))
      << ReadWholeFile(dir.file("velmora.log"));
  x.Screenshot("velmora-large-standard.png");

  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(WaitForChild(Start({nginx.url("/files/f.bin")}), 2000ms), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
  const std::filesystem::path saved = dir.path() / "Downloads" / "f.bin";
  EXPECT_TRUE(
      WaitFor([&] { return std::filesystem::exists(saved) && ReadWholeFile(saved) == contents; }, 20000ms));
  EXPECT_TRUE(Shows("f.bin\tDone\t")) << ReadWholeFile(dump());
  x.Screenshot("velmora-downloaded.png");
  // A second start without an address changes nothing and ends.
  EXPECT_EQ(WaitForChild(Start(), 2000ms), 0);

  // Exit through the menu, as a user would.
  EXPECT_EQ(x.Xdotool({"search", "--sync", "--name", "Velmora 1.41", "windowactivate", "--sync"}), 0);
  EXPECT_EQ(x.Xdotool({"key", "alt+f"}), 0);
  EXPECT_EQ(x.Xdotool({"key", "x"}), 0);
  EXPECT_EQ(WaitForChild(window, 10000ms), 0);

  // Small buttons in the second named theme; the download is still listed after the restart.
  Configure([](TSettingsStore &settings) {
    settings.WriteBool("Options", "LargeButtons", false);
    settings.WriteInteger("Options", "ColorTheme", 1);
  });
  std::filesystem::remove(dump());
  const pid_t again = Start();
  EXPECT_TRUE(Shows("f.bin\tDone\t"));
  x.Screenshot("velmora-small-velm.png");
  kill(again, SIGTERM); // a session's end: no question, a clean exit
  EXPECT_EQ(WaitForChild(again, 10000ms), 0);
  EXPECT_FALSE(std::filesystem::exists(dir.file("home") + "/run/instance.sock"));
}

} // namespace
} // namespace velmora::testing
