// Feeds arbitrary history files ("LastURLs") to the reader and the writer of Add URL's history.
#include "FuzzFiles.h"
#include "store/LastUrls.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  using namespace velmora;
  const std::string path = fuzzing::WriteInput("LastURLs", data, size);
  std::vector<std::string> urls;
  if (!LoadLastUrls(path, urls) || urls.size() > kMaxLastUrls)
    std::abort();
  for (const std::string &url : urls)
    if (url.empty() || url.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
      std::abort();
  // The first line of the input, typed again, is added once at most and the file stays bounded.
  const std::string typed(reinterpret_cast<const char *>(data), std::min<size_t>(size, 200));
  if (!AddLastUrl(path, typed))
    std::abort();
  std::vector<std::string> after;
  if (!LoadLastUrls(path, after) || after.size() > kMaxLastUrls || after != WithLastUrl(urls, typed))
    std::abort();
  return 0;
}
