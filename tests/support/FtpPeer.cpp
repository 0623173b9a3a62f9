#include "support/FtpPeer.h"

#include "support/ChildProcess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <pwd.h>
#include <random>
#include <stdexcept>
#include <unistd.h>

namespace velmora::testing {

namespace {

constexpr auto kToolDeadline = std::chrono::seconds(30);

// Runs one of the system's account tools with standard input from input (a file) and its output
// into output; true when it ended with status 0 in time.
bool RunTool(std::vector<std::string> arguments, const std::string &input, const std::string &output) {
  arguments[0] = FindProgram(arguments[0]);
  return WaitForChild(SpawnChild(arguments, nullptr, {input, output, output}), kToolDeadline) == 0;
}

std::string RandomText(std::mt19937_64 &random, std::size_t length) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string text;
  for (std::size_t i = 0; i < length; ++i)
    text += kLetters[random() % (sizeof kLetters - 1)];
  return text;
}

// vsftpd drops to the ftp user for anonymous sessions, which must be able to reach the files.
void OpenForReading(const std::filesystem::path &folder) {
  std::filesystem::permissions(folder,
                               std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                   std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                   std::filesystem::perms::others_exec);
}

} // namespace

VsftpdPeer::VsftpdPeer(const VsftpdOptions &options) {
  std::filesystem::create_directories(root());
  std::filesystem::create_directories(dir_.path() / "empty");
  OpenForReading(dir_.path());
  OpenForReading(root());
  const uint16_t port = FreeLoopbackPort();
  std::string extra;
  if (!options.pasvAddress.empty())
    extra += "pasv_address=" + options.pasvAddress + "\n";
  if (!options.bannerLines.empty()) {
    WriteWholeFile(dir_.path() / "banner.txt", options.bannerLines);
    extra += "banner_file=" + (dir_.path() / "banner.txt").string() + "\n";
  }
  WriteWholeFile(dir_.path() / "vsftpd.conf", FillTemplate(ReadPeerFile("ftp-vsftpd.conf.in"),
                                                           {{"PORT", std::to_string(port)},
                                                            {"ROOT", root().string()},
                                                            {"EMPTY", (dir_.path() / "empty").string()},
                                                            {"MAX_PER_IP", std::to_string(options.maxPerIp)},
                                                            {"EXTRA", extra}}));
  PeerOptions peer;
  peer.name = "vsftpd";
  peer.command = {"vsftpd", (dir_.path() / "vsftpd.conf").string()};
  peer.folder = dir_.path();
  peer.port = port;
  peer_ = std::make_unique<Peer>(std::move(peer));
}

std::string VsftpdPeer::url(const std::string &path, const std::string &userInfo) const {
  return "ftp://" + (userInfo.empty() ? "" : userInfo + "@") + "127.0.0.1:" + std::to_string(port()) + path;
}

LocalFtpUser::LocalFtpUser() {
  if (geteuid() != 0)
    throw std::runtime_error("this test needs root: it creates a throw-away system account (useradd) for "
                             "vsftpd's local-user logons; run the tests as root");
  std::mt19937_64 random(std::random_device{}());
  // A letter first, as account names must begin; the prefix marks what a killed test left behind.
  name_ = "vmtest" + RandomText(random, 10);
  password_ = RandomText(random, 16);
  const std::string log = dir_.file("tools.log");
  // vsftpd enters the home as the user before it moves to its root; only the home is the user's.
  std::filesystem::permissions(dir_.path(), std::filesystem::perms::owner_all |
                                                std::filesystem::perms::group_exec |
                                                std::filesystem::perms::others_exec);
  WriteWholeFile(dir_.path() / "password", name_ + ":" + password_ + "\n");
  std::filesystem::permissions(dir_.path() / "password", std::filesystem::perms::owner_read);
  // A shell of /etc/shells, which the FTP logon checks; the home stays inside the temporary folder.
  if (!RunTool({"useradd", "--home-dir", dir_.file("home"), "--create-home", "--shell", "/bin/sh", name_},
               "/dev/null", log))
    throw std::runtime_error("useradd " + name_ + " failed:\n" + ReadWholeFile(log));
  if (!RunTool({"chpasswd"}, dir_.file("password"), log)) {
    RunTool({"userdel", "--force", name_}, "/dev/null", log);
    throw std::runtime_error("chpasswd for " + name_ + " failed:\n" + ReadWholeFile(log));
  }
}

void LocalFtpUser::own(const std::filesystem::path &file) const {
  const passwd *user = getpwnam(name_.c_str());
  if (user == nullptr || chown(file.c_str(), user->pw_uid, user->pw_gid) != 0)
    throw std::runtime_error("cannot give " + file.string() + " to " + name_);
  std::filesystem::permissions(file,
                               std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

LocalFtpUser::~LocalFtpUser() {
  const std::string log = dir_.file("tools.log");
  if (!RunTool({"userdel", "--force", name_}, "/dev/null", log))
    ADD_FAILURE() << "userdel " << name_ << " failed:\n" << ReadWholeFile(log);
}

PyftpdlibPeer::PyftpdlibPeer(const PyftpdlibOptions &options) : options_(options) {
  std::filesystem::create_directories(root());
  const uint16_t port = FreeLoopbackPort();
  PeerOptions peer;
  peer.name = "pyftpdlib";
  peer.command = {"/usr/bin/python3", std::string(VELMORA_PEERS_DIR) + "/ftp_server.py",
                  "--address",        options.ipv6 ? "::" : "127.0.0.1",
                  "--port",           std::to_string(port),
                  "--root",           root().string()};
  if (!options.user.empty())
    peer.command.insert(peer.command.end(), {"--user", options.user, "--password", options.password});
  for (const std::string &command : options.without)
    peer.command.insert(peer.command.end(), {"--without", command});
  if (options.throttle > 0)
    peer.command.insert(peer.command.end(), {"--throttle", std::to_string(options.throttle)});
  if (options.killAfter > 0)
    peer.command.insert(peer.command.end(), {"--kill-after", std::to_string(options.killAfter)});
  if (options.stallAfterLogin)
    peer.command.push_back("--stall-after-login");
  peer.folder = dir_.path();
  peer.port = port;
  peer_ = std::make_unique<Peer>(std::move(peer));
}

std::string PyftpdlibPeer::url(const std::string &path, const std::string &host) const {
  const std::string credentials = options_.user.empty() ? "" : options_.user + ":" + options_.password + "@";
  return "ftp://" + credentials + host + ":" + std::to_string(port()) + path;
}

FtpProxyPeer::FtpProxyPeer() {
  const uint16_t port = FreeLoopbackPort();
  WriteWholeFile(dir_.path() / "ftp-proxy.conf",
                 FillTemplate(ReadPeerFile("ftp-proxy.conf.in"),
                              {{"PORT", std::to_string(port)}, {"DIR", dir_.path().string()}}));
  PeerOptions peer;
  peer.name = "ftp-proxy";
  // -d: its own daemon, -n: in the foreground, so the process id stays the one to stop.
  peer.command = {"ftp-proxy", "-d", "-n", "-f", (dir_.path() / "ftp-proxy.conf").string()};
  peer.folder = dir_.path();
  peer.port = port;
  peer.unprivilegedUser = "nobody";
  peer_ = std::make_unique<Peer>(std::move(peer));
}

} // namespace velmora::testing
