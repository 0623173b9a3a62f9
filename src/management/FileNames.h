#pragma once

#include "shell/Url.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace velmora {

// The longest file name made from an address; GetUniqueFileName's "(n)" still fits below the
// 255 bytes a Linux file name may have.
inline constexpr std::size_t kMaxDerivedNameBytes = 240;
// The name of a download whose address names no file, as other download tools call it.
inline constexpr std::string_view kDefaultDownloadName = "index.html";

// A name from a server made fit to be a file name in a folder of ours: "/" becomes "_", control
// characters go, "." and ".." and an empty result become the default name, and a name longer
// than kMaxDerivedNameBytes is cut at a character boundary, keeping a short extension.
std::string CleanFileName(std::string_view name);

// The file name of a download of that address: its file name with "%20" decoded to blanks, cleaned.
std::string FileNameFromUrl(const TUrl &url);

// folder with exactly one "/" after it; an empty folder stays empty.
std::string WithTrailingSlash(std::string folder);

} // namespace velmora
