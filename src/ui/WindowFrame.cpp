#include "ui/WindowFrame.h"

#include <QGuiApplication>
#include <QWidget>

#if ORBEL_HAVE_XCB
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>
#endif

namespace orbel {

#if ORBEL_HAVE_XCB
namespace {

template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
  const auto cookie =
      xcb_intern_atom(connection, 1, static_cast<std::uint16_t>(std::strlen(name)), name);
  ReplyPtr<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookie, nullptr),
                                          &std::free);
  return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// Whether the window manager announces `feature` in _NET_SUPPORTED.
bool Supported(xcb_connection_t* connection, xcb_window_t root, xcb_atom_t feature) {
  const xcb_atom_t supported = Atom(connection, "_NET_SUPPORTED");
  if (supported == XCB_ATOM_NONE || feature == XCB_ATOM_NONE) return false;
  const auto cookie = xcb_get_property(connection, 0, root, supported, XCB_ATOM_ATOM, 0, 4096);
  ReplyPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, nullptr),
                                           &std::free);
  if (!reply || reply->format != 32 || reply->type != XCB_ATOM_ATOM) return false;
  const int count = xcb_get_property_value_length(reply.get()) / 4;
  const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
  for (int i = 0; i < count; ++i) {
    if (atoms[i] == feature) return true;
  }
  return false;
}

}  // namespace
#endif

QMargins ExpectedWindowFrame(QWidget& window) {
#if ORBEL_HAVE_XCB
  if (!window.isWindow() || window.isVisible()) return {};
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
  if (!connection) return {};
  const xcb_setup_t* setup = xcb_get_setup(connection);
  if (!setup) return {};
  const xcb_window_t root = xcb_setup_roots_iterator(setup).data->root;
  const xcb_atom_t request = Atom(connection, "_NET_REQUEST_FRAME_EXTENTS");
  const xcb_atom_t extents = Atom(connection, "_NET_FRAME_EXTENTS");
  if (extents == XCB_ATOM_NONE || !Supported(connection, root, request)) return {};

  // The native window is made now, unmapped; the window manager sets its
  // _NET_FRAME_EXTENTS in answer to the request.
  const auto id = static_cast<xcb_window_t>(window.winId());
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = id;
  message.type = request;
  xcb_send_event(connection, 0, root,
                 XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                 reinterpret_cast<const char*>(&message));
  xcb_flush(connection);
  const qreal ratio = window.devicePixelRatioF() > 0 ? window.devicePixelRatioF() : 1.0;
  for (int attempt = 0; attempt < 40; ++attempt) {
    const auto cookie = xcb_get_property(connection, 0, id, extents, XCB_ATOM_CARDINAL, 0, 4);
    ReplyPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection, cookie, nullptr),
                                             &std::free);
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply.get()) == 16) {
      // Left, right, top, bottom.
      const auto* sides = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
      const auto logical = [ratio](std::uint32_t side) {
        return static_cast<int>(side > 10000 ? 0 : side / ratio);
      };
      return QMargins(logical(sides[0]), logical(sides[2]), logical(sides[1]), logical(sides[3]));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
#else
  (void)window;
#endif
  return {};
}

}  // namespace orbel
