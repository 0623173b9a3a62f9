// Feeds arbitrary mirror lists ("mirrors.lst") to the lookup; the first line is the address.
#include "mirrors/GetMirrorList.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view input(reinterpret_cast<const char *>(data), size);
  const size_t lineEnd = input.find('\n');
  const std::string_view url =
      lineEnd == std::string_view::npos ? "http://ftp.example.org/pub/file.tar.gz" : input.substr(0, lineEnd);
  const std::string_view list = lineEnd == std::string_view::npos ? input : input.substr(lineEnd + 1);
  const velmora::TMirrorList mirrors = velmora::GetMirrorsFromText(list, url);
  // Every mirror is made from a line of the list, so there can never be more of them than lines.
  if (static_cast<size_t>(mirrors.Count()) > list.size() + 1)
    std::abort();
  std::string group;
  velmora::ParseMirrorEntry(list, group);
  return 0;
}
