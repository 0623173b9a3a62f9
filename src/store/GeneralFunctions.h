#pragma once

#include "store/IndependentGeneralFunctions.h"
#include "store/Registry.h"

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

namespace velmora {

// Helpers that read settings or look at files.

// Today in the user's time zone.
std::chrono::year_month_day LocalToday();

// The dated sub-folder for new downloads, from `Date1`, `DateDivider1`, `Date2`, `DateDivider2` and
// `Date3` (section "Options"): with the defaults 5 March 2004 gives "03-05-2004". "Invalid Date!"
// when the date cannot be used.
std::string GetDateFolderName(const TSettingsStore &settings,
                              std::chrono::year_month_day today = LocalToday());

// Whether Ext matches one of the blank-separated masks of the setting `Extensions` (section
// "Options"), without regard to case.
bool ValidExtension(std::string_view Ext, const TSettingsStore &settings);

// Whether a download record already uses the name as its local file name (ignoring case).
using TFileInUse = std::function<bool(const std::string &fileName)>;

// path itself when neither a file nor a record uses it, else the first of name(1).ext,
// name(2).ext, ... that is free in both senses.
std::string GetUniqueFileName(const std::string &path, const TFileInUse &FileInUse);

} // namespace velmora
