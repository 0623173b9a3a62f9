#pragma once

#include "platform/FileContents.h"
#include "platform/Paths.h"

namespace velmora::platform {

// Creates the data, config and runtime folders (mode 0700 when new, as XDG asks for per-user folders).
FileResult CreateUserFolders(const Paths &paths);

// Copies every file of the share folder (mirrors.lst, Translations/*.vmt, help) that the data folder
// does not have yet, keeping the sub-folders; files the user already has are never overwritten.
// Each copy appears whole or not at all. A failure with one file does not stop the others; the
// result names every file that failed.
FileResult InstallShippedFiles(const Paths &paths);

} // namespace velmora::platform
