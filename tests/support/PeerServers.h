#pragma once

#include "support/Peer.h"
#include "support/TempDir.h"

#include <filesystem>
#include <memory>
#include <string>

namespace velmora::testing {

// nginx on 127.0.0.1 serving documentRoot(): /files/ as they are, /norange/ without ranges,
// /slow/ throttled, /auth/ behind Basic credentials ("aladdin", "open sesame", realm "Files"),
// and the redirects /moved (301, absolute), /found (302, relative) and /loop (to itself).
class NginxPeer {
public:
  static constexpr const char *kUser = "aladdin";
  static constexpr const char *kPassword = "open sesame";

  // address is one of the 127.0.0.0/8 loopback addresses.
  explicit NginxPeer(std::string address = "127.0.0.1");
  uint16_t port() const { return peer_->port(); }
  // Files written below documentRoot()/files are served under /files/, /norange/, /slow/ and /auth/.
  std::filesystem::path filesFolder() const { return dir_.path() / "www" / "files"; }
  std::string url(const std::string &path) const;
  // Every request served so far, one line each.
  std::string accessLog() const;

private:
  TempDir dir_;
  std::string address_;
  std::unique_ptr<Peer> peer_;
};

// squid as an HTTP proxy on 127.0.0.1: port() is open, authPort() demands the proxy user
// ("proxyuser", "proxy pass").
class SquidPeer {
public:
  static constexpr const char *kUser = "proxyuser";
  static constexpr const char *kPassword = "proxy pass";

  SquidPeer();
  uint16_t port() const { return peer_->port(); }
  uint16_t authPort() const { return authPort_; }

private:
  TempDir dir_;
  uint16_t authPort_ = 0;
  std::unique_ptr<Peer> peer_;
};

} // namespace velmora::testing
