#include "ui/ForegroundWindow.h"

#include <QApplication>
#include <QGuiApplication>
#include <QWindow>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace velmora {

namespace {

xcb_atom_t Atom(xcb_connection_t *connection, const char *name) {
  xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
  const xcb_atom_t atom = reply != nullptr ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
  std::free(reply);
  return atom;
}

// The X server's current time: a zero-length property change on a window of our own is answered
// by an event that carries it. A bounded number of events is looked at.
xcb_timestamp_t ServerTime(xcb_connection_t *connection, xcb_window_t root, xcb_visualid_t visual) {
  const xcb_window_t probe = xcb_generate_id(connection);
  const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
  xcb_create_window(connection, XCB_COPY_FROM_PARENT, probe, root, -1, -1, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_ONLY, visual, XCB_CW_EVENT_MASK, &mask);
  xcb_change_property(connection, XCB_PROP_MODE_APPEND, probe, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8, 0,
                      nullptr);
  xcb_flush(connection);
  xcb_timestamp_t time = XCB_CURRENT_TIME;
  for (int i = 0; i < 64; ++i) {
    xcb_generic_event_t *event = xcb_wait_for_event(connection);
    if (event == nullptr)
      break;
    const bool found = (event->response_type & 0x7F) == XCB_PROPERTY_NOTIFY;
    if (found)
      time = reinterpret_cast<xcb_property_notify_event_t *>(event)->time;
    std::free(event);
    if (found)
      break;
  }
  xcb_destroy_window(connection, probe);
  return time;
}

void ActivateOnX11(QWidget &window) {
  xcb_connection_t *connection = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(connection) != 0) {
    xcb_disconnect(connection);
    return;
  }
  xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
  if (screen != nullptr) {
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = static_cast<xcb_window_t>(window.window()->winId());
    message.type = Atom(connection, "_NET_ACTIVE_WINDOW");
    message.data.data32[0] = 2; // as a pager: the user asked for it
    message.data.data32[1] = ServerTime(connection, screen->root, screen->root_visual);
    message.data.data32[2] = XCB_NONE;
    xcb_send_event(connection, 0, screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&message));
    xcb_flush(connection);
  }
  xcb_disconnect(connection);
}

} // namespace

void ForceForegroundWindow(QWidget &window, const std::string &activationToken) {
  if (window.isMinimized())
    window.showNormal();
  window.show();
  window.raise();
  window.activateWindow();
  if (QGuiApplication::platformName() == QLatin1String("xcb")) {
    ActivateOnX11(window);
    return;
  }
  // Qt 6.4's Wayland plugin takes no token through its public interface; it asks the compositor
  // itself, and the compositor may only mark the window as wanting attention.
  (void)activationToken;
  if (QWindow *handle = window.windowHandle())
    handle->requestActivate();
  if (!window.isActiveWindow())
    QApplication::alert(&window);
}

} // namespace velmora
