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
// Local users log on through the system's accounts and see the same root(); any other user, or a
// wrong password, gets 530.
class VsftpdPeer {
public:
  explicit VsftpdPeer(const VsftpdOptions &options = {});
  uint16_t port() const { return peer_->port(); }
  // Files written here are served at the top of the server.
  std::filesystem::path root() const { return dir_.path() / "root"; }
  // userInfo is "name:password" as it stands in the address; empty: anonymous.
  std::string url(const std::string &path, const std::string &userInfo = "") const;

private:
  TempDir dir_;
  std::unique_ptr<Peer> peer_;
};

// A throw-away system account for vsftpd's local users: a random name, a home in a temporary
// folder, a random password set with chpasswd; the destructor removes it with userdel, so a failed
// test leaves none behind. Creating accounts needs root: without it the constructor throws a
// runtime_error that says so. Declare it before the server, which must end its sessions first.
class LocalFtpUser {
public:
  LocalFtpUser();
  ~LocalFtpUser();
  LocalFtpUser(const LocalFtpUser &) = delete;
  LocalFtpUser &operator=(const LocalFtpUser &) = delete;
  const std::string &name() const { return name_; }
  const std::string &password() const { return password_; }
  // "name:password" for an address; with another password for the refusals.
  std::string userInfo() const { return name_ + ":" + password_; }
  std::string userInfo(const std::string &password) const { return name_ + ":" + password; }
  // Makes file the user's alone (mode 0600), so that no anonymous logon can fetch it.
  void own(const std::filesystem::path &file) const;

private:
  TempDir dir_;
  std::string name_, password_;
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
