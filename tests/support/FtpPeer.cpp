#include "support/FtpPeer.h"

namespace velmora::testing {

namespace {

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

std::string VsftpdPeer::url(const std::string &path) const {
  return "ftp://127.0.0.1:" + std::to_string(port()) + path;
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
