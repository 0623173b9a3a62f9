#pragma once

#include <string>
#include <string_view>

namespace velmora {

// Entry names arrive as bytes: UTF-8 when the archive says so or when they are valid UTF-8 (as
// Unix archivers write them without saying so), else in the DOS code page 437.
std::string DecodeEntryName(std::string_view stored, bool flaggedUtf8);

} // namespace velmora
