#pragma once

#include "shell/Constants.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

// The password sent for anonymous FTP; servers expect it to look like an e-mail address.
inline constexpr std::string_view kAnonymousFtpPassword = "velmora@example.com";

// A download address split into the pieces the program works with. The parser is forgiving and
// never fails: an address it cannot read gets the "unknown" protocol word, so callers test
// Protocol for "http", "https" or "ftp" before using the rest. An https address follows the
// rules of http, with 443 as its default port.
class TUrl {
public:
  // unknownProtocol is the word Protocol takes for an unreadable address: the translated
  // "Unknown" of the vocabulary where the caller has one.
  explicit TUrl(std::string_view url, std::string_view unknownProtocol = english::Unknown);

  // The canonical address used to start a part download: the port is always written and an http
  // query is left out. Normalises Dir in place so that it begins and ends with "/".
  std::string FullUrl();
  // FullUrl with the http query kept, for requests that must reach the same resource.
  std::string FullUrlWithQuery();
  // The path of a request line: Dir, FileName and Query, with blanks and bytes above 0x7F
  // percent-encoded so the line always stays one valid token.
  std::string RequestPath() const;
  // The host as it stands in an address or a Host header: IPv6 literals in brackets.
  std::string HostForAddress() const;
  // The server as the statistics know it: host and port, the port left out where it is the
  // default of http or ftp (so older statistics keep their names); https on 443 is its own server.
  std::string ServerName() const;

  std::string Url;      // exactly as given, no scheme added
  std::string Protocol; // lower case, or the unknown word
  std::string User;
  std::string Password;
  std::string Host; // case kept; IPv6 literals without brackets
  int32_t Port = 0;
  std::string Dir;
  std::string FileName;  // for http it stops before the first "?"
  std::string Extension; // without dots, taken before the query is cut off
  std::string Query;     // for http: "?" and what follows it in the last path segment, else empty

private:
  void ParseUrl(std::string_view url);
  void ParseAfterScheme(std::string rest);
  void MarkUnknown();
  void NormaliseDir();

  std::string unknownProtocol_;
};

// The absolute address a redirect's Location names, resolved against the address that was asked
// for (an absolute address, a network path "//host/...", an absolute path, a query or a relative
// path). Empty when the location is empty or holds control characters.
std::string ResolveLocation(TUrl base, std::string_view location);

// The value of a hex digit (either case), or -1 for any other character.
int HexDigitValue(char c);

} // namespace velmora
