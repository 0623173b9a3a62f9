#include "net/TlsContext.h"

#include <cstdlib>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace velmora {

namespace {

// A session arrives (in TLS 1.3 after the handshake, with the first data); it is kept for the
// next connection to the same server.
int NewSession(SSL *ssl, SSL_SESSION *session) {
  const auto *key = static_cast<const std::string *>(SSL_get_ex_data(ssl, TTlsContext::KeyIndex()));
  if (key == nullptr || key->empty())
    return 0;
  TTlsContext::Process().Remember(*key, session);
  return 1; // the reference is ours now
}

// The system's trusted certificates through the hashed names of their folder (/etc/ssl/certs, or
// $SSL_CERT_DIR): only the issuers a chain needs are read, where loading the whole bundle would
// cost every start a tenth of a second. A bundle named by $SSL_CERT_FILE is read as asked.
bool AddSystemTrust(X509_STORE *store) {
  const char *folder = std::getenv(X509_get_default_cert_dir_env());
  X509_LOOKUP *lookup = X509_STORE_add_lookup(store, X509_LOOKUP_hash_dir());
  if (lookup == nullptr ||
      X509_LOOKUP_add_dir(lookup, folder != nullptr ? folder : X509_get_default_cert_dir(),
                          X509_FILETYPE_PEM) != 1)
    return false;
  const char *bundle = std::getenv(X509_get_default_cert_file_env());
  return bundle == nullptr || X509_STORE_load_file(store, bundle) == 1;
}

} // namespace

std::string TlsLibraryError(const std::string &fallback) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0)
    return fallback;
  const char *reason = ERR_reason_error_string(code);
  return reason != nullptr ? reason : fallback;
}

int TTlsContext::KeyIndex() {
  static const int index = SSL_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  return index;
}

TTlsContext &TTlsContext::Process() {
  static TTlsContext context;
  return context;
}

TTlsContext::TTlsContext() {
  context_ = SSL_CTX_new(TLS_client_method());
  if (context_ == nullptr) {
    setupError_ = TlsLibraryError("TLS is not available");
    return;
  }
  SSL_CTX_set_min_proto_version(context_, TLS1_2_VERSION);
  if (!AddSystemTrust(SSL_CTX_get_cert_store(context_)))
    setupError_ = TlsLibraryError("the system's trusted certificates could not be read");
  // The names of a certificate are its subject alternative names; a CN is no host name.
  X509_VERIFY_PARAM_set_hostflags(SSL_CTX_get0_param(context_), X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
  SSL_CTX_set_session_cache_mode(context_, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(context_, NewSession);
  KeyIndex();
}

TTlsContext::~TTlsContext() {
  for (auto &entry : sessions_)
    SSL_SESSION_free(entry.second);
  for (auto &entry : stores_)
    X509_STORE_free(entry.second);
  SSL_CTX_free(context_);
}

X509_STORE *TTlsContext::StoreWith(const std::string &path, std::string &error) {
  if (const auto found = stores_.find(path); found != stores_.end())
    return found->second;
  ERR_clear_error();
  X509_STORE *store = X509_STORE_new();
  if (store == nullptr || !AddSystemTrust(store) || X509_STORE_load_file(store, path.c_str()) != 1) {
    X509_STORE_free(store);
    error = "cannot use the CA certificate file " + path + ": " + TlsLibraryError("no certificate in it");
    return nullptr;
  }
  stores_.emplace(path, store);
  return store;
}

SSL_SESSION *TTlsContext::SessionFor(const std::string &key) const {
  for (const auto &entry : sessions_)
    if (entry.first == key)
      return SSL_SESSION_is_resumable(entry.second) && SSL_SESSION_up_ref(entry.second) == 1 ? entry.second
                                                                                             : nullptr;
  return nullptr;
}

void TTlsContext::Remember(const std::string &key, SSL_SESSION *session) {
  Forget(key);
  sessions_.emplace_front(key, session);
  if (sessions_.size() > kMaxSessions) {
    SSL_SESSION_free(sessions_.back().second);
    sessions_.pop_back();
  }
}

void TTlsContext::Forget(const std::string &key) {
  for (auto it = sessions_.begin(); it != sessions_.end(); ++it)
    if (it->first == key) {
      SSL_SESSION_free(it->second);
      sessions_.erase(it);
      return;
    }
}

} // namespace velmora
