#pragma once

#include "platform/Environment.h"

#include <string>

namespace velmora {

// The Qt platform the window asks for, or empty to leave Qt's own choice. In a Wayland session
// with XWayland, and no QT_QPA_PLATFORM of the user's, it is xcb: window positions, staying on
// top and coming to the front work there as the program needs; native Wayland serves only where
// there is no X server.
std::string ChooseQtPlatform(const platform::Environment &environment);

// The desktop's activation token handed to us, to pass on to the running copy.
std::string ActivationToken(const platform::Environment &environment);

} // namespace velmora
