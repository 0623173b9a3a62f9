#include "net/HttpRequest.h"

namespace velmora {

namespace {

bool SafeInALine(std::string_view value) {
  return value.find_first_of(std::string_view("\r\n\0", 3)) == value.npos;
}

} // namespace

std::string Base64Encode(std::string_view data) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string result;
  result.reserve((data.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    const uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(data[i])) << 16 |
                           static_cast<uint32_t>(static_cast<unsigned char>(data[i + 1])) << 8 |
                           static_cast<unsigned char>(data[i + 2]);
    result += kAlphabet[group >> 18 & 63];
    result += kAlphabet[group >> 12 & 63];
    result += kAlphabet[group >> 6 & 63];
    result += kAlphabet[group & 63];
  }
  if (i < data.size()) {
    const bool two = i + 1 < data.size();
    const uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(data[i])) << 16 |
                           (two ? static_cast<uint32_t>(static_cast<unsigned char>(data[i + 1])) << 8 : 0);
    result += kAlphabet[group >> 18 & 63];
    result += kAlphabet[group >> 12 & 63];
    result += two ? kAlphabet[group >> 6 & 63] : '=';
    result += '=';
  }
  return result;
}

std::optional<std::string> BuildGetRequest(const THttpRequestFields &fields) {
  for (std::string_view value :
       {std::string_view(fields.Path), std::string_view(fields.Host), std::string_view(fields.From),
        std::string_view(fields.Accept), std::string_view(fields.Referer), std::string_view(fields.Agent),
        std::string_view(fields.Cookie)})
    if (!SafeInALine(value))
      return std::nullopt;
  std::string text = "GET " + (fields.Path.empty() ? std::string("/") : fields.Path) + " HTTP/1.0\r\n";
  auto line = [&text](std::string_view name, std::string_view value) {
    if (!value.empty())
      text.append(name).append(": ").append(value).append("\r\n");
  };
  line("From", fields.From);
  line("Accept", fields.Accept);
  line("Referer", fields.Referer);
  line("User-Agent", fields.Agent);
  text += "Host: " + fields.Host + "\r\n";
  if (fields.NoCache)
    text += "Pragma: no-cache\r\n";
  if (!fields.Username.empty())
    line("Authorization", "Basic " + Base64Encode(fields.Username + ":" + fields.Password));
  if (!fields.ProxyUsername.empty())
    line("Proxy-Authorization", "Basic " + Base64Encode(fields.ProxyUsername + ":" + fields.ProxyPassword));
  line("Cookie", fields.Cookie);
  if (fields.RangeBegin || fields.RangeEnd)
    text += "Range: bytes=" + (fields.RangeBegin ? std::to_string(*fields.RangeBegin) : std::string()) + "-" +
            (fields.RangeEnd ? std::to_string(*fields.RangeEnd) : std::string()) + "\r\n";
  text += "\r\n";
  return text;
}

std::optional<std::string> BuildConnectRequest(const std::string &authority, const std::string &agent,
                                               const std::string &proxyUsername,
                                               const std::string &proxyPassword) {
  for (std::string_view value : {authority, agent, proxyUsername, proxyPassword})
    if (!SafeInALine(value))
      return std::nullopt;
  std::string text = "CONNECT " + authority + " HTTP/1.0\r\nHost: " + authority + "\r\n";
  if (!agent.empty())
    text += "User-Agent: " + agent + "\r\n";
  if (!proxyUsername.empty())
    text += "Proxy-Authorization: Basic " + Base64Encode(proxyUsername + ":" + proxyPassword) + "\r\n";
  return text + "\r\n";
}

} // namespace velmora
