#pragma once

#include <string_view>

// A namespace of its own: the store library's MatchesMask has other rules, and two libraries
// that define one symbol leave the linker to pick one of them for both.
namespace velmora::unzip {

// Whether a name matches a mask of "*" (any run) and "?" (any one character), compared without
// letter case; "*.*" matches every name, with or without a dot.
bool MatchesMask(std::string_view name, std::string_view mask);

} // namespace velmora::unzip
