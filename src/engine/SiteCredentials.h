#pragma once

#include "shell/Url.h"

#include <string>

namespace velmora {

// Where a part downloader gets the credentials for a server: the site manager, which keeps what
// the user typed per host and realm, implements it.
class ISiteCredentials {
public:
  virtual ~ISiteCredentials() = default;
  // Replaces the credentials of the entry for Url's host and Realm; creates no entry.
  virtual void SetCredentials(const TUrl &Url, const std::string &Realm, const std::string &User,
                              const std::string &Password) = 0;
  virtual std::string GetUser(const TUrl &Url, const std::string &Realm) = 0;
  virtual std::string GetPassword(const TUrl &Url, const std::string &Realm) = 0;
};

// Until the user has answered a demand, the credentials are those the address itself holds.
class TUrlCredentials : public ISiteCredentials {
public:
  void SetCredentials(const TUrl &, const std::string &, const std::string &, const std::string &) override {}
  std::string GetUser(const TUrl &Url, const std::string &) override { return Url.User; }
  std::string GetPassword(const TUrl &Url, const std::string &) override { return Url.Password; }
};

} // namespace velmora
