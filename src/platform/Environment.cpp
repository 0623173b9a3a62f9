#include "platform/Environment.h"

#include <cstdlib>

namespace velmora::platform {

Environment SystemEnvironment() {
  return [](const std::string &name) -> std::optional<std::string> {
    const char *value = std::getenv(name.c_str());
    if (value == nullptr)
      return std::nullopt;
    return std::string(value);
  };
}

std::optional<std::string> FirstSet(const Environment &environment,
                                    std::initializer_list<const char *> names) {
  for (const char *name : names) {
    std::optional<std::string> value = environment(name);
    if (value && !value->empty())
      return value;
  }
  return std::nullopt;
}

} // namespace velmora::platform
