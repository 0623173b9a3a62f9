#include "support/TlsScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace velmora::testing {

namespace {

constexpr int kAcceptWaitMs = 100;
constexpr int kDeadlineMs = 30000;
constexpr std::size_t kMaxRequest = 16 * 1024;

} // namespace

TlsScriptedServer::TlsScriptedServer(const std::filesystem::path &certificate,
                                     const std::filesystem::path &key, std::string reply, Ending ending)
    : reply_(std::move(reply)), ending_(ending) {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
      listen(listenFd_, 16) != 0 ||
      getsockname(listenFd_, reinterpret_cast<sockaddr *>(&address), &length) != 0)
    throw std::runtime_error("TlsScriptedServer: cannot listen");
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this, c = certificate.string(), k = key.string()] { run(c, k); });
}

TlsScriptedServer::~TlsScriptedServer() {
  stopping_ = true;
  thread_.join();
  close(listenFd_);
}

std::string TlsScriptedServer::url(const std::string &path) const {
  return "https://127.0.0.1:" + std::to_string(port_) + path;
}

void TlsScriptedServer::run(std::string certificate, std::string key) {
  SSL_CTX *context = SSL_CTX_new(TLS_server_method());
  if (context == nullptr || SSL_CTX_use_certificate_chain_file(context, certificate.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(context, key.c_str(), SSL_FILETYPE_PEM) != 1) {
    SSL_CTX_free(context);
    return;
  }
  for (int waited = 0; !stopping_ && waited < kDeadlineMs; waited += kAcceptWaitMs) {
    pollfd ready{listenFd_, POLLIN, 0};
    if (poll(&ready, 1, kAcceptWaitMs) != 1)
      continue;
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0)
      continue;
    // Every wait on the connection is bounded, so a client that stalls cannot hold the test.
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    serve(context, fd);
    close(fd);
  }
  SSL_CTX_free(context);
}

void TlsScriptedServer::serve(void *contextPointer, int fd) {
  SSL *ssl = SSL_new(static_cast<SSL_CTX *>(contextPointer));
  SSL_set_fd(ssl, fd);
  if (SSL_accept(ssl) == 1) {
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < kMaxRequest) {
      const int read = SSL_read(ssl, buffer, sizeof buffer);
      if (read <= 0)
        break;
      request.append(buffer, static_cast<std::size_t>(read));
    }
    SSL_write(ssl, reply_.data(), static_cast<int>(reply_.size()));
    if (ending_ == closeNotify) {
      SSL_shutdown(ssl);
    } else if (ending_ == garbage) {
      const char junk[] = "this is no TLS record at all\r\n";
      [[maybe_unused]] const ssize_t written = write(fd, junk, sizeof junk - 1);
    }
    ++served_;
  }
  SSL_free(ssl);
  ERR_clear_error();
}

} // namespace velmora::testing
