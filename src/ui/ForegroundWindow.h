#pragma once

#include <QWidget>
#include <string>

namespace velmora {

// Brings a window of ours in front of another program's active window. On X11 it asks the window
// manager as a pager would (_NET_ACTIVE_WINDOW, source 2, with the server's time), which focus
// stealing prevention lets through; elsewhere it raises, asks for activation and, failing that,
// marks the window as wanting attention. activationToken: a token handed over by another copy.
void ForceForegroundWindow(QWidget &window, const std::string &activationToken);

} // namespace velmora
