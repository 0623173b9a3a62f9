#include "shell/Url.h"

#include "shell/ReportError.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace velmora {

namespace {

constexpr std::string_view kSchemeSeparator = "://";
constexpr int32_t kHttpPort = 80;
constexpr int32_t kHttpsPort = 443;
constexpr int32_t kFtpPort = 21;
constexpr int32_t kHighestPort = 65535;

bool IsControlCharacter(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

bool HasControlCharacters(std::string_view text) {
  return std::any_of(text.begin(), text.end(), IsControlCharacter);
}

std::string LowerCase(std::string_view text) {
  std::string lower(text);
  for (char &c : lower)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

// A port is decimal digits naming 0..65535; anything else is 0, the "no usable port" value, so a
// port can never be truncated into a different one when it reaches the socket.
int32_t ParsePort(std::string_view text) {
  if (text.empty() || text.size() > 5 || !std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
      }))
    return 0;
  const int32_t value = std::stoi(std::string(text));
  return value <= kHighestPort ? value : 0;
}

// The extension starts after the last "." that follows any "\" or ":".
std::string ExtensionOf(std::string_view fileName) {
  const size_t last = fileName.find_last_of(".\\:");
  if (last == std::string_view::npos || fileName[last] != '.')
    return {};
  return std::string(fileName.substr(last + 1));
}

std::string PercentEncodeUnsafe(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(text.size());
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == ' ' || byte >= 0x80) {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0F];
    } else {
      encoded += c;
    }
  }
  return encoded;
}

std::string WithSlashes(const std::string &dir) {
  std::string slashed;
  slashed.reserve(dir.size() + 2);
  if (dir.empty() || dir.front() != '/')
    slashed += '/';
  slashed += dir;
  if (slashed.back() != '/')
    slashed += '/';
  return slashed;
}

bool IsSchemeCharacter(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' || c == '.';
}

bool HasScheme(std::string_view location) {
  const size_t separator = location.find(kSchemeSeparator);
  return separator != std::string_view::npos && separator > 0 &&
         std::all_of(location.begin(), location.begin() + static_cast<std::ptrdiff_t>(separator),
                     IsSchemeCharacter);
}

// Resolves "." and ".." segments of an absolute path; whatever follows "?" or "#" is kept as it is.
std::string RemoveDotSegments(std::string_view target) {
  const size_t pathEnd = std::min(target.find_first_of("?#"), target.size());
  const std::string_view path = target.substr(0, pathEnd);
  std::vector<std::string_view> segments;
  size_t start = 1;
  while (start <= path.size()) {
    const size_t end = std::min(path.find('/', start), path.size());
    const std::string_view segment = path.substr(start, end - start);
    const bool last = end == path.size();
    if (segment == "..") {
      if (!segments.empty())
        segments.pop_back();
      if (last)
        segments.emplace_back();
    } else if (segment == ".") {
      if (last)
        segments.emplace_back();
    } else {
      segments.push_back(segment);
    }
    start = end + 1;
  }
  std::string resolved;
  for (const std::string_view segment : segments) {
    resolved += '/';
    resolved += segment;
  }
  if (resolved.empty())
    resolved.push_back('/');
  resolved += target.substr(pathEnd);
  return resolved;
}

std::string_view Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos)
    return {};
  const size_t last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

} // namespace

TUrl::TUrl(std::string_view url, std::string_view unknownProtocol)
    : Url(url), Protocol(unknownProtocol), unknownProtocol_(unknownProtocol) {
  const bool parsed = GuardedVoid("constructor TURL.Create(Url : String)", [&] {
    ParseUrl(url);
    if (User.empty() && Protocol == "ftp") {
      User = "anonymous";
      Password = kAnonymousFtpPassword;
    }
  });
  if (!parsed)
    Protocol = unknownProtocol_;
}

void TUrl::ParseUrl(std::string_view url) {
  // A control character could end a request or command line early and smuggle in another one.
  if (HasControlCharacters(url)) {
    MarkUnknown();
    return;
  }
  std::string text(url);
  const bool hasScheme = text.find(kSchemeSeparator) != std::string::npos;
  if (!hasScheme && text.starts_with("ftp"))
    text.insert(0, "ftp://");
  else if (!hasScheme && text.starts_with("www"))
    text.insert(0, "http://");

  const size_t separator = text.find(kSchemeSeparator);
  if (separator == std::string::npos) {
    MarkUnknown();
    return;
  }
  Protocol = LowerCase(std::string_view(text).substr(0, separator));
  ParseAfterScheme(text.substr(separator + kSchemeSeparator.size()));
}

void TUrl::ParseAfterScheme(std::string rest) {
  // https addresses are http ones on a TLS connection: the same rules for queries and fragments.
  const bool http = Protocol == "http" || Protocol == "https";
  // The fragment belongs to the browser; it is never part of the resource asked for.
  if (http)
    rest.resize(std::min(rest.find('#'), rest.size()));

  // User information stands before the host: an "@" in the path or query is not one.
  const size_t authorityEnd = std::min(rest.find_first_of("/?#"), rest.size());
  const size_t at = std::string_view(rest).substr(0, authorityEnd).rfind('@');
  if (at != std::string::npos) {
    const std::string_view userInfo = std::string_view(rest).substr(0, at);
    const size_t colon = userInfo.find(':');
    User = userInfo.substr(0, colon);
    if (colon != std::string_view::npos)
      Password = userInfo.substr(colon + 1);
    rest.erase(0, at + 1);
  }

  const size_t hostEnd = std::min(rest.find_first_of("/?#"), rest.size());
  const std::string_view hostPart = std::string_view(rest).substr(0, hostEnd);
  std::string_view portText;
  bool hasPort = false;
  if (hostPart.starts_with('[')) {
    const size_t close = hostPart.find(']');
    const std::string_view afterBracket =
        close == std::string_view::npos ? std::string_view() : hostPart.substr(close + 1);
    // A literal address holds no bracket of its own and is never empty: "[[1]" would print back as
    // a host and port that no longer parse.
    const bool literalIsSound = close != std::string_view::npos && close > 1 &&
                                hostPart.substr(1, close - 1).find('[') == std::string_view::npos;
    if (!literalIsSound || !(afterBracket.empty() || afterBracket.starts_with(':'))) {
      MarkUnknown();
      return;
    }
    Host = hostPart.substr(1, close - 1);
    hasPort = !afterBracket.empty();
    if (hasPort)
      portText = afterBracket.substr(1);
  } else {
    const size_t colon = hostPart.find(':');
    Host = hostPart.substr(0, colon);
    hasPort = colon != std::string_view::npos;
    if (hasPort)
      portText = hostPart.substr(colon + 1);
  }
  if (hasPort)
    Port = ParsePort(portText);
  else if (http)
    Port = Protocol == "https" ? kHttpsPort : kHttpPort;
  else if (Protocol == "ftp")
    Port = kFtpPort;

  std::string path = rest.substr(hostEnd);
  if (!path.starts_with('/'))
    path.insert(path.begin(), '/');
  const size_t lastSlash = path.rfind('/');
  Dir = path.substr(0, lastSlash + 1);
  FileName = path.substr(lastSlash + 1);
  Extension = ExtensionOf(FileName);
  if (http) {
    const size_t question = FileName.find('?');
    if (question != std::string::npos) {
      Query = FileName.substr(question);
      FileName.resize(question);
    }
  }
}

void TUrl::MarkUnknown() {
  Protocol = unknownProtocol_;
  Host.clear();
  Dir.clear();
  FileName.clear();
  Extension.clear();
  Query.clear();
  Port = 0;
}

void TUrl::NormaliseDir() { Dir = WithSlashes(Dir); }

std::string TUrl::HostForAddress() const {
  return Host.find(':') == std::string::npos ? Host : "[" + Host + "]";
}

std::string TUrl::ServerName() const {
  const bool defaultPort =
      (Protocol == "http" && Port == kHttpPort) || (Protocol == "ftp" && Port == kFtpPort);
  return defaultPort ? Host : HostForAddress() + ":" + std::to_string(Port);
}

std::string TUrl::FullUrl() {
  NormaliseDir();
  std::string full = Protocol + std::string(kSchemeSeparator);
  if (!User.empty()) {
    full += User;
    if (!Password.empty())
      full += ":" + Password;
    full += "@";
  }
  full += HostForAddress() + ":" + std::to_string(Port) + Dir + FileName;
  return full;
}

std::string TUrl::FullUrlWithQuery() { return FullUrl() + Query; }

std::string TUrl::RequestPath() const { return PercentEncodeUnsafe(WithSlashes(Dir) + FileName + Query); }

std::string ResolveLocation(TUrl base, std::string_view location) {
  location = Trimmed(location);
  if (location.empty() || HasControlCharacters(location))
    return {};
  if (HasScheme(location))
    return std::string(location);
  if (location.starts_with("//"))
    return base.Protocol + ":" + std::string(location);

  const std::string full = base.FullUrl();
  const std::string origin = full.substr(0, full.size() - base.Dir.size() - base.FileName.size());
  if (location.starts_with('/'))
    return origin + RemoveDotSegments(location);
  if (location.starts_with('?'))
    return full + std::string(location);
  if (location.starts_with('#'))
    return full + base.Query;
  return origin + RemoveDotSegments(base.Dir + std::string(location));
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  return -1;
}

} // namespace velmora
