#include "app/GuiPlatform.h"

namespace velmora {

namespace {

bool Set(const platform::Environment &environment, const char *name) {
  const std::optional<std::string> value = environment(name);
  return value && !value->empty();
}

} // namespace

std::string ChooseQtPlatform(const platform::Environment &environment) {
  if (Set(environment, "QT_QPA_PLATFORM"))
    return {};
  if (Set(environment, "WAYLAND_DISPLAY") && Set(environment, "DISPLAY"))
    return "xcb";
  return {};
}

std::string ActivationToken(const platform::Environment &environment) {
  for (const char *name : {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"})
    if (const std::optional<std::string> value = environment(name); value && !value->empty())
      return *value;
  return {};
}

} // namespace velmora
