#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// The values one GET request is made of.
struct THttpRequestFields {
  std::string Path; // the request target: a path, or an absolute address through a proxy
  std::string Host; // the Host value, with the port when it is not the scheme's default
  std::string From;
  std::string Accept;
  std::string Referer;
  std::string Agent;
  std::string Cookie;
  bool NoCache = false;
  // Basic credentials; a line is sent when the user is not empty.
  std::string Username, Password;
  std::string ProxyUsername, ProxyPassword;
  std::optional<int64_t> RangeBegin, RangeEnd;
};

// The HTTP/1.0 GET request, each line ended by CR LF, closed by an empty line. Nothing when any
// value holds CR, LF or NUL: such a value could end a line early and smuggle in lines of its own.
std::optional<std::string> BuildGetRequest(const THttpRequestFields &fields);

// The request that asks an HTTP proxy for a tunnel to authority (host:port), closed by an empty
// line; nothing when a value holds CR, LF or NUL.
std::optional<std::string> BuildConnectRequest(const std::string &authority, const std::string &agent,
                                               const std::string &proxyUsername,
                                               const std::string &proxyPassword);

// Standard base64 with "=" padding.
std::string Base64Encode(std::string_view data);

} // namespace velmora
