#include "platform/CommandArguments.h"

namespace velmora::platform {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

} // namespace

std::vector<std::string> SplitCommandArguments(std::string_view line) {
  std::vector<std::string> arguments;
  std::string current;
  bool inArgument = false; // set by any character or quote pair, so "" yields an empty argument
  std::size_t i = 0;
  while (i < line.size()) {
    const char c = line[i++];
    if (IsBlank(c)) {
      if (inArgument)
        arguments.push_back(std::move(current));
      current.clear();
      inArgument = false;
      continue;
    }
    inArgument = true;
    if (c == '\'') {
      while (i < line.size() && line[i] != '\'')
        current += line[i++];
      ++i; // the closing quote, or past the end
    } else if (c == '"') {
      while (i < line.size() && line[i] != '"') {
        if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == '"' || line[i + 1] == '\\'))
          ++i;
        current += line[i++];
      }
      ++i;
    } else if (c == '\\' && i < line.size()) {
      current += line[i++];
    } else {
      current += c;
    }
  }
  if (inArgument)
    arguments.push_back(std::move(current));
  return arguments;
}

} // namespace velmora::platform
