#pragma once

#include "platform/FileContents.h"

#include <string>
#include <string_view>

namespace velmora::platform {

// Replaces the file at path with contents so that a crash at any moment leaves either the old file
// or the new one, never a mix: a temporary file beside it is written, flushed to disk, renamed over
// the old one, and the folder is flushed. An existing file keeps its permission bits; a new one gets
// 0666 less the umask. On failure the old file is untouched and the temporary file is removed.
FileResult WriteFileAtomically(const std::string &path, std::string_view contents);

} // namespace velmora::platform
