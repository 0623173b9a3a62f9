#pragma once

#include <string>

namespace velmora {

// Removes what a kill during a record save leaves in the partial-downloads folder: the temporary
// files of the atomic replacement, named exactly "<base>.dat.tmp-XXXXXX" (six letters or digits).
// A file younger than a minute, or of a record another process holds, is left alone, since its
// save may be under way right now.
// Returns how many were removed.
int RemoveRecordSaveLeftovers(const std::string &partialDownloadsFolder);

} // namespace velmora
