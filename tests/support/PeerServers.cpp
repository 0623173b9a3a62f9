#include "support/PeerServers.h"

namespace velmora::testing {

NginxPeer::NginxPeer(std::string address) : address_(std::move(address)) {
  std::filesystem::create_directories(filesFolder());
  std::filesystem::create_directories(dir_.path() / "temp");
  const uint16_t port = FreeLoopbackPort();
  WriteWholeFile(dir_.path() / "htpasswd", ReadPeerFile("htpasswd"));
  WriteWholeFile(
      dir_.path() / "nginx.conf",
      FillTemplate(ReadPeerFile("nginx.conf.in"),
                   {{"DIR", dir_.path().string()}, {"ADDRESS", address_}, {"PORT", std::to_string(port)}}));
  PeerOptions options;
  options.name = "nginx";
  options.command = {"nginx", "-p", dir_.path().string(), "-c", (dir_.path() / "nginx.conf").string()};
  options.folder = dir_.path();
  options.port = port;
  options.address = address_;
  options.unprivilegedUser = "nobody";
  peer_ = std::make_unique<Peer>(std::move(options));
}

std::string NginxPeer::accessLog() const { return ReadWholeFile(dir_.path() / "access.log"); }

std::string NginxPeer::url(const std::string &path) const {
  return "http://" + address_ + ":" + std::to_string(port()) + path;
}

SquidPeer::SquidPeer() {
  const uint16_t port = FreeLoopbackPort();
  authPort_ = FreeLoopbackPort();
  while (authPort_ == port)
    authPort_ = FreeLoopbackPort();
  WriteWholeFile(dir_.path() / "passwd", ReadPeerFile("squid-passwd"));
  const std::string helper = "/usr/lib/squid/basic_ncsa_auth";
  WriteWholeFile(dir_.path() / "squid.conf",
                 FillTemplate(ReadPeerFile("squid.conf.in"), {{"DIR", dir_.path().string()},
                                                              {"PORT", std::to_string(port)},
                                                              {"AUTH_PORT", std::to_string(authPort_)},
                                                              {"AUTH_HELPER", helper}}));
  PeerOptions options;
  options.name = "squid";
  options.command = {"squid", "-N", "-d", "1", "-f", (dir_.path() / "squid.conf").string()};
  options.folder = dir_.path();
  options.port = port;
  options.unprivilegedUser = "proxy";
  peer_ = std::make_unique<Peer>(std::move(options));
}

} // namespace velmora::testing
