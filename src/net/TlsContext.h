#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <utility>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct ssl_session_st SSL_SESSION;
typedef struct x509_store_st X509_STORE;

namespace velmora {

// How a connection judges the server's certificate.
struct TTlsOptions {
  bool Verify = true;
  std::string CaFile; // a PEM file of certificates trusted besides the system's store

  friend bool operator==(const TTlsOptions &, const TTlsOptions &) = default;
};

// The process's one TLS client configuration: TLS 1.2 at least, the system's trust store, a
// store per extra trust file named, and a cache of sessions per server so that the parts of a download
// resume the first part's session instead of each doing a full handshake. Event-loop thread only.
class TTlsContext {
public:
  static TTlsContext &Process();

  TTlsContext(const TTlsContext &) = delete;
  TTlsContext &operator=(const TTlsContext &) = delete;
  ~TTlsContext();

  // Null when the library could not be set up; the reason is in SetupError.
  SSL_CTX *Context() const { return context_; }
  const std::string &SetupError() const { return setupError_; }
  // The system's trusted certificates together with those of a PEM file, read once per path; null
  // with the reason when the file cannot be used. Only the connections that name the file use it.
  X509_STORE *StoreWith(const std::string &path, std::string &error);

  // The session kept for a server key, with a reference for the caller (SSL_set_session takes
  // its own), or null.
  SSL_SESSION *SessionFor(const std::string &key) const;
  // Keeps the session a connection just received for its key; the context takes the reference.
  void Remember(const std::string &key, SSL_SESSION *session);
  void Forget(const std::string &key);

  // Handshakes finished since the start, full and resumed: the benchmarks and tests read them.
  uint64_t FullHandshakes = 0;
  uint64_t ResumedHandshakes = 0;

  // Where a connection's SSL object keeps its session key, for the new-session callback.
  static int KeyIndex();

private:
  TTlsContext();

  static constexpr std::size_t kMaxSessions = 64;

  SSL_CTX *context_ = nullptr;
  std::string setupError_;
  std::map<std::string, X509_STORE *> stores_;
  std::list<std::pair<std::string, SSL_SESSION *>> sessions_; // newest first
};

// The text of the library's newest queued error, or fallback when there is none; clears the queue.
std::string TlsLibraryError(const std::string &fallback);

} // namespace velmora
