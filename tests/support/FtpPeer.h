#pragma once

#include "support/Peer.h"
#include "support/TempDir.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace velmora::testing {

struct VsftpdOptions {
  int maxPerIp = 0;        // 0: no limit
  std::string pasvAddress; // the address vsftpd names in its 227 replies; empty: its own
  std::string bannerLines; // lines of a multi-line greeting; empty: the one-line greeting
};

// vsftpd on 127.0.0.1 serving root() to anonymous users (no password asked), passive and active.
// Local users log on through the system's accounts; any other user gets 530.
class VsftpdPeer {
public:
  explicit VsftpdPeer(const VsftpdOptions &options = {});
  uint16_t port() const { return peer_->port(); }
  // Files written here are served at the top of the server.
  std::filesystem::path root() const { return dir_.path() / "root"; }
  std::string url(const std::string &path) const;

private:
  TempDir dir_;
  std::unique_ptr<Peer> peer_;
};

struct PyftpdlibOptions {
  std::string user, password;       // empty user: anonymous
  std::vector<std::string> without; // commands the server does not know ("SIZE", "REST")
  int throttle = 0;                 // bytes per second on each data connection; 0: full speed
  int killAfter = 0;                // each data connection is reset after this many bytes
  bool stallAfterLogin = false;     // TYPE is never answered
  bool ipv6 = false;                // listens on "::", so ::1 reaches it too
};

// python3-pyftpdlib (run by /usr/bin/python3) on loopback serving root(), scripted in
// tests/peers/ftp_server.py for the misbehaviour real servers show.
class PyftpdlibPeer {
public:
  explicit PyftpdlibPeer(const PyftpdlibOptions &options = {});
  uint16_t port() const { return peer_->port(); }
  std::filesystem::path root() const { return dir_.path() / "root"; }
  // host is "127.0.0.1" or "[::1]"; user information is added when the peer has a user.
  std::string url(const std::string &path, const std::string &host = "127.0.0.1") const;

private:
  TempDir dir_;
  PyftpdlibOptions options_;
  std::unique_ptr<Peer> peer_;
};

// ftp-proxy (proxy-suite) on 127.0.0.1: an FTP relay that takes the real server from the user
// name ("user@host:port") and reaches it in passive mode.
class FtpProxyPeer {
public:
  FtpProxyPeer();
  uint16_t port() const { return peer_->port(); }

private:
  TempDir dir_;
  std::unique_ptr<Peer> peer_;
};

} // namespace velmora::testing
