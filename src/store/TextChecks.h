#pragma once

#include <string>
#include <string_view>

namespace velmora {

// Letter case of ASCII letters only: stored names are compared the way they were typed, and other
// bytes of UTF-8 text are left alone.
std::string LowerAscii(std::string_view text);
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// Bytes below 0x20 and 0x7F: they could split or shift the fields of a line format.
bool HoldsControlCharacter(std::string_view text);
// CR, LF or NUL: the bytes that end a line of an INI file.
bool HoldsLineBreak(std::string_view text);

} // namespace velmora
