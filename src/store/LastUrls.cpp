#include "store/LastUrls.h"

#include "platform/AtomicFile.h"
#include "platform/SystemError.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace velmora {

namespace {

bool HasControlCharacter(std::string_view text) {
  return std::any_of(text.begin(), text.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
  });
}

bool SameWithoutCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos)
    return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

void KeepNewest(std::vector<std::string> &urls) {
  if (urls.size() > kMaxLastUrls)
    urls.erase(urls.begin(), urls.end() - static_cast<std::ptrdiff_t>(kMaxLastUrls));
}

// Reads at most kLastUrlsReadLimit bytes; a line cut by the limit is dropped by the caller.
platform::FileResult ReadBounded(const std::string &path, std::string &text, bool &missing, bool &cut) {
  missing = false;
  cut = false;
  const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) {
    missing = errno == ENOENT;
    return platform::FileResult::Failure(platform::DescribeSystemError("Couldn't open", path, errno));
  }
  text.assign(kLastUrlsReadLimit + 1, '\0');
  size_t got = 0;
  while (got < text.size()) {
    const ssize_t step = ::read(file, text.data() + got, text.size() - got);
    if (step < 0 && errno == EINTR)
      continue;
    if (step < 0) {
      const int error = errno;
      ::close(file);
      return platform::FileResult::Failure(platform::DescribeSystemError("Couldn't read", path, error));
    }
    if (step == 0)
      break;
    got += static_cast<size_t>(step);
  }
  ::close(file);
  cut = got > kLastUrlsReadLimit;
  text.resize(std::min(got, kLastUrlsReadLimit));
  return platform::FileResult::Success();
}

} // namespace

std::vector<std::string> ParseLastUrls(std::string_view text) {
  std::vector<std::string> urls;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    if (!line.empty() && !HasControlCharacter(line))
      urls.emplace_back(line);
  }
  KeepNewest(urls);
  return urls;
}

platform::FileResult LoadLastUrls(const std::string &path, std::vector<std::string> &urls) {
  urls.clear();
  std::string text;
  bool missing = false;
  bool cut = false;
  platform::FileResult read = ReadBounded(path, text, missing, cut);
  if (!read)
    return missing ? platform::FileResult::Success() : read;
  if (cut) {
    const size_t lastBreak = text.find_last_of('\n');
    text.erase(lastBreak == std::string::npos ? 0 : lastBreak);
  }
  urls = ParseLastUrls(text);
  return platform::FileResult::Success();
}

std::vector<std::string> WithLastUrl(std::vector<std::string> urls, std::string_view url) {
  url = Trimmed(url);
  if (url.empty() || HasControlCharacter(url))
    return urls;
  if (std::none_of(urls.begin(), urls.end(),
                   [&](const std::string &known) { return SameWithoutCase(known, url); }))
    urls.emplace_back(url);
  KeepNewest(urls);
  return urls;
}

platform::FileResult AddLastUrl(const std::string &path, std::string_view url) {
  std::vector<std::string> urls;
  if (platform::FileResult loaded = LoadLastUrls(path, urls); !loaded)
    return loaded;
  const std::vector<std::string> updated = WithLastUrl(urls, url);
  if (updated == urls)
    return platform::FileResult::Success(); // nothing new: the file stays as it is
  std::string text;
  for (const std::string &line : updated)
    text.append(line).append("\n");
  return platform::WriteFileAtomically(path, text);
}

} // namespace velmora
