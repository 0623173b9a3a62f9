#include "store/RecordLeftovers.h"

#include "store/RecordLock.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace velmora {

namespace {

constexpr std::string_view kMarker = ".dat.tmp-";
constexpr std::size_t kRandomPart = 6; // mkstemp's XXXXXX
// A save lasts milliseconds: a younger file may belong to a save of another process right now.
constexpr auto kMinimumAge = std::chrono::minutes(1);

// The record's base name when name is a leftover of one of its saves.
std::string LeftoverBase(std::string_view name) {
  const std::size_t marker = name.rfind(kMarker);
  if (marker == std::string_view::npos || marker == 0 || name.size() != marker + kMarker.size() + kRandomPart)
    return {};
  const std::string_view random = name.substr(marker + kMarker.size());
  if (!std::all_of(random.begin(), random.end(),
                   [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }))
    return {};
  return std::string(name.substr(0, marker));
}

} // namespace

int RemoveRecordSaveLeftovers(const std::string &partialDownloadsFolder) {
  namespace fs = std::filesystem;
  int removed = 0;
  std::error_code error;
  for (fs::directory_iterator it(partialDownloadsFolder, error), end; !error && it != end;
       it.increment(error)) {
    const std::string base = LeftoverBase(it->path().filename().string());
    std::error_code typeError;
    if (base.empty() || !it->is_regular_file(typeError) || it->is_symlink(typeError))
      continue;
    const auto modified = it->last_write_time(typeError);
    if (typeError || fs::file_time_type::clock::now() - modified < kMinimumAge ||
        TRecordLock::InUse((it->path().parent_path() / base).string()))
      continue;
    std::error_code removeError;
    if (fs::remove(it->path(), removeError))
      ++removed;
  }
  return removed;
}

} // namespace velmora
