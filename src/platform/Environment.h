#pragma once

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>

namespace velmora::platform {

// Looks up an environment variable; nullopt when it is not set. Passed to whatever depends on the
// environment, so tests can give their own.
using Environment = std::function<std::optional<std::string>(const std::string &name)>;

// The process environment.
Environment SystemEnvironment();

// The first of the names that is set to a non-empty text, else nullopt.
std::optional<std::string> FirstSet(const Environment &environment,
                                    std::initializer_list<const char *> names);

} // namespace velmora::platform
