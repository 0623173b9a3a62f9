#include "support/TlsPeers.h"

#include "support/ChildProcess.h"

#include <set>
#include <stdexcept>

namespace velmora::testing {

namespace {

void RunOpenssl(const std::vector<std::string> &arguments, const std::filesystem::path &folder) {
  std::vector<std::string> command{FindProgram("openssl")};
  command.insert(command.end(), arguments.begin(), arguments.end());
  const std::string log = (folder / "openssl.log").string();
  const int status = WaitForChild(SpawnChild(command, nullptr, {"", log, log}), std::chrono::seconds(30));
  if (status != 0)
    throw std::runtime_error("openssl " + arguments.front() + " failed: " + ReadWholeFile(log));
}

std::vector<std::string> NewKey(const std::filesystem::path &key) {
  return {"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", key.string()};
}

} // namespace

TestCertificates::TestCertificates(const std::filesystem::path &folder) : folder_(folder) {
  Make("ca", "", "", 2);
  Make("otherca", "", "", 2);
  Make("trusted", "ca", "IP:127.0.0.1,DNS:localhost", 2);
  Make("expired", "ca", "IP:127.0.0.1,DNS:localhost", -1);
  Make("othername", "ca", "DNS:other.example", 2);
  Make("selfsigned", "", "IP:127.0.0.1,DNS:localhost", 2);
  Make("unknownca", "otherca", "IP:127.0.0.1,DNS:localhost", 2);
}

void TestCertificates::Make(const std::string &name, const std::string &issuer, const std::string &names,
                            int days) {
  if (issuer.empty()) {
    // Self-signed: a CA when it names nobody, else a server that vouches for itself.
    std::vector<std::string> request{"req", "-x509"};
    for (const std::string &argument : NewKey(key(name)))
      request.push_back(argument);
    request.insert(request.end(), {"-out", certificate(name).string(), "-days", std::to_string(days), "-subj",
                                   names.empty() ? "/CN=Velmora Test " + name : "/CN=127.0.0.1"});
    if (!names.empty())
      request.insert(request.end(), {"-addext", "subjectAltName=" + names});
    RunOpenssl(request, folder_);
    return;
  }
  const std::string extensions = (folder_ / (name + ".ext")).string();
  WriteWholeFile(extensions, "subjectAltName=" + names + "\n");
  const std::string csr = (folder_ / (name + ".csr")).string();
  std::vector<std::string> request{"req", "-new"};
  for (const std::string &argument : NewKey(key(name)))
    request.push_back(argument);
  request.insert(request.end(), {"-out", csr, "-subj", "/CN=127.0.0.1"});
  RunOpenssl(request, folder_);
  static int serial = 1;
  RunOpenssl({"x509", "-req", "-in", csr, "-CA", certificate(issuer).string(), "-CAkey", key(issuer).string(),
              "-set_serial", std::to_string(++serial), "-out", certificate(name).string(), "-days",
              std::to_string(days), "-extfile", extensions},
             folder_);
}

NginxTlsPeer::NginxTlsPeer() : certificates_(dir_.path()) {
  std::filesystem::create_directories(filesFolder());
  std::filesystem::create_directories(dir_.path() / "temp");
  std::set<uint16_t> taken;
  for (uint16_t &port : ports_) {
    do
      port = FreeLoopbackPort();
    while (!taken.insert(port).second);
  }
  WriteWholeFile(dir_.path() / "htpasswd", ReadPeerFile("htpasswd"));
  WriteWholeFile(dir_.path() / "nginx.conf",
                 FillTemplate(ReadPeerFile("nginx-tls.conf.in"),
                              {{"DIR", dir_.path().string()},
                               {"ADDRESS", "127.0.0.1"},
                               {"PORT", std::to_string(ports_[trusted])},
                               {"EXPIRED_PORT", std::to_string(ports_[expired])},
                               {"OTHER_NAME_PORT", std::to_string(ports_[otherName])},
                               {"SELF_SIGNED_PORT", std::to_string(ports_[selfSigned])},
                               {"UNKNOWN_CA_PORT", std::to_string(ports_[unknownCa])},
                               {"PLAIN_PORT", std::to_string(ports_[plain])}}));
  PeerOptions options;
  options.name = "nginx";
  options.command = {"nginx", "-p", dir_.path().string(), "-c", (dir_.path() / "nginx.conf").string()};
  options.folder = dir_.path();
  options.port = ports_[plain];
  options.unprivilegedUser = "nobody";
  peer_ = std::make_unique<Peer>(std::move(options));
}

std::string NginxTlsPeer::sessionLog() const { return ReadWholeFile(dir_.path() / "sessions.log"); }

uint16_t NginxTlsPeer::port(Server server) const { return ports_[server]; }

std::string NginxTlsPeer::url(const std::string &path, Server server) const {
  return (server == plain ? "http://127.0.0.1:" : "https://127.0.0.1:") + std::to_string(ports_[server]) +
         path;
}

} // namespace velmora::testing
