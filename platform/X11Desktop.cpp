#include "platform/X11Desktop.h"

#include <QColor>
#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace velmora::x11 {

namespace {

xcb_connection_t* connection()
{
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (app == nullptr)
        return nullptr;
    const auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 != nullptr ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name)
{
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, uint16_t(std::strlen(name)), name), nullptr);
    if (reply == nullptr)
        return XCB_ATOM_NONE;
    const xcb_atom_t result = reply->atom;
    std::free(reply);
    return result;
}

std::vector<uint32_t> property32(xcb_connection_t* c, xcb_window_t window, xcb_atom_t property, xcb_atom_t type)
{
    std::vector<uint32_t> values;
    if (property == XCB_ATOM_NONE)
        return values;
    xcb_get_property_reply_t* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, property, type, 0, 4096), nullptr);
    if (reply == nullptr)
        return values;
    if (reply->format == 32) {
        const auto* items = static_cast<const uint32_t*>(xcb_get_property_value(reply));
        values.assign(items, items + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return values;
}

xcb_screen_t* firstScreen(xcb_connection_t* c)
{
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data;
}

} // namespace

bool onX11()
{
    return connection() != nullptr;
}

bool windowManagerMaximizes()
{
    xcb_connection_t* c = connection();
    if (c == nullptr)
        return false;
    const xcb_window_t root = firstScreen(c)->root;
    const xcb_atom_t check = atom(c, "_NET_SUPPORTING_WM_CHECK");
    // A window manager names a window of its own on the root and on itself;
    // one that has ended leaves the root's name pointing at nothing.
    const auto named = property32(c, root, check, XCB_ATOM_WINDOW);
    if (named.empty() || property32(c, named.front(), check, XCB_ATOM_WINDOW) != named)
        return false;
    const xcb_atom_t maximized = atom(c, "_NET_WM_STATE_MAXIMIZED_HORZ");
    for (const uint32_t supported : property32(c, root, atom(c, "_NET_SUPPORTED"), XCB_ATOM_ATOM)) {
        if (supported == maximized)
            return true;
    }
    return false;
}

bool viewable(const QWidget& window)
{
    xcb_connection_t* c = connection();
    if (c == nullptr || !window.isWindow() || !window.testAttribute(Qt::WA_WState_Created))
        return false;
    xcb_get_window_attributes_reply_t* reply =
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, xcb_window_t(window.internalWinId())), nullptr);
    if (reply == nullptr)
        return false;
    const bool result = reply->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(reply);
    return result;
}

void setWindowBackground(QWidget& window, const QColor& colour)
{
    xcb_connection_t* c = connection();
    if (c == nullptr || !window.isWindow())
        return;
    // The toolkit's windows use the screen's true-colour visual, whose pixel
    // is the colour's 8-bit red, green and blue.
    if (firstScreen(c)->root_depth < 24)
        return;
    const QColor rgb = colour.toRgb();
    const uint32_t pixel = (uint32_t(rgb.red()) << 16) | (uint32_t(rgb.green()) << 8) | uint32_t(rgb.blue());
    xcb_change_window_attributes(c, xcb_window_t(window.winId()), XCB_CW_BACK_PIXEL, &pixel);
}

} // namespace velmora::x11
