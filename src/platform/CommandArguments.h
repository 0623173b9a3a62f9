#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace velmora::platform {

// Splits a line of program parameters into arguments as a POSIX shell splits words, but without any
// expansion (no variables, globs, "~" or command substitution) and without operators (";", "|",
// "&", ">" are ordinary characters):
// - spaces and tabs separate arguments; runs of them count as one;
// - '...' keeps everything inside as it stands;
// - "..." keeps everything inside as it stands, except that \" and \\ stand for " and \;
// - outside quotes a backslash makes the next character ordinary (so "\ " is a blank inside an argument);
// - quoted and unquoted pieces that touch form one argument, and "" or '' alone is an empty argument;
// - a quote that is never closed runs to the end of the line.
std::vector<std::string> SplitCommandArguments(std::string_view line);

} // namespace velmora::platform
