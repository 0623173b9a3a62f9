#pragma once

#include <string_view>

namespace velmora {

// Whether a name matches a mask of "*" (any run) and "?" (any one character), compared without
// letter case; "*.*" matches every name, with or without a dot.
bool MatchesMask(std::string_view name, std::string_view mask);

} // namespace velmora
