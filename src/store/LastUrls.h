#pragma once

#include "platform/FileContents.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// The history of addresses typed into Add URL ("LastURLs"): one address a line, oldest first.
inline constexpr std::size_t kMaxLastUrls = 9;
// More than nine addresses ever need; a bigger file is read only this far.
inline constexpr std::size_t kLastUrlsReadLimit = std::size_t{64} * 1024;

// The addresses of a history text, the newest kMaxLastUrls of them. Lines ending in CR LF or LF;
// empty lines and lines holding control characters are dropped.
std::vector<std::string> ParseLastUrls(std::string_view text);
// The file's addresses; a missing file is an empty history. Fails only when it cannot be read.
platform::FileResult LoadLastUrls(const std::string &path, std::vector<std::string> &urls);
// urls with the address appended unless it is there already (compared without letter case),
// oldest lines dropped beyond kMaxLastUrls. The address is trimmed of blanks; an empty one, or
// one holding control characters, changes nothing.
std::vector<std::string> WithLastUrl(std::vector<std::string> urls, std::string_view url);
// Adds the address to the file's history and replaces the file atomically. A file that exists
// but cannot be read is left as it is.
platform::FileResult AddLastUrl(const std::string &path, std::string_view url);

} // namespace velmora
