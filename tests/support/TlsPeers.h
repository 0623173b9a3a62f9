#pragma once

#include "support/Peer.h"
#include "support/TempDir.h"

#include <filesystem>
#include <memory>
#include <string>

namespace velmora::testing {

// Certificates made at test time with the openssl command: a test CA, a server certificate for
// 127.0.0.1 and localhost from it, and the bad ones (expired, for another name, self-signed,
// from a CA nobody trusts). Each is name.pem with its key in name.key.
class TestCertificates {
public:
  explicit TestCertificates(const std::filesystem::path &folder);
  std::filesystem::path caFile() const { return certificate("ca"); }
  std::filesystem::path certificate(const std::string &name) const { return folder_ / (name + ".pem"); }
  std::filesystem::path key(const std::string &name) const { return folder_ / (name + ".key"); }

private:
  void Make(const std::string &name, const std::string &issuer, const std::string &names, int days);

  std::filesystem::path folder_;
};

// nginx on 127.0.0.1 with TLS: port() is the trusted server (/files/, /slow/ throttled, /auth/
// behind the credentials of NginxPeer, /to-http/NAME redirecting to the plain server), and one
// server for each bad certificate; plainPort() serves /files/ and /to-https/NAME over http.
class NginxTlsPeer {
public:
  enum Server { trusted, expired, otherName, selfSigned, unknownCa, plain };

  NginxTlsPeer();
  uint16_t port(Server server = trusted) const;
  std::filesystem::path filesFolder() const { return dir_.path() / "www" / "files"; }
  std::filesystem::path caFile() const { return certificates_.caFile(); }
  const TestCertificates &certificates() const { return certificates_; }
  // https://127.0.0.1:port/path (http:// for the plain server).
  std::string url(const std::string &path, Server server = trusted) const;
  // One line per request served: "r" when its TLS session was resumed, "." when it was not, the
  // name asked for by SNI ("-" for none), the status and the path.
  std::string sessionLog() const;

private:
  TempDir dir_;
  TestCertificates certificates_;
  uint16_t ports_[6] = {};
  std::unique_ptr<Peer> peer_;
};

} // namespace velmora::testing
