#include "platform/linux/X11TaskList.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace {

xcb_connection_t *connection()
{
    auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t *c, const char *name)
{
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(
            c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

std::vector<xcb_atom_t> states(xcb_connection_t *c, xcb_window_t window, xcb_atom_t netWmState)
{
    const std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
        xcb_get_property_reply(
            c, xcb_get_property(c, 0, window, netWmState, XCB_ATOM_ATOM, 0, 1024), nullptr),
        &std::free);
    if (!reply || reply->format != 32 || reply->type != XCB_ATOM_ATOM)
        return {};
    const auto *data = static_cast<const xcb_atom_t *>(xcb_get_property_value(reply.get()));
    return {data, data + xcb_get_property_value_length(reply.get()) / 4};
}

} // namespace

void X11TaskList::setListed(QWidget *window, bool listed)
{
    xcb_connection_t *c = connection();
    if (!c)
        return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    const xcb_atom_t netWmState = atom(c, "_NET_WM_STATE");
    const xcb_atom_t skipTaskbar = atom(c, "_NET_WM_STATE_SKIP_TASKBAR");

    if (!window->isVisible()) {
        // An unmapped window carries its state in its property, which the window manager
        // reads when the window is mapped; Qt keeps the states it does not manage itself.
        std::vector<xcb_atom_t> atoms = states(c, id, netWmState);
        std::erase(atoms, skipTaskbar);
        if (!listed)
            atoms.push_back(skipTaskbar);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, netWmState, XCB_ATOM_ATOM, 32,
                            static_cast<uint32_t>(atoms.size()), atoms.data());
    } else {
        // A mapped window asks the window manager.
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = id;
        event.type = netWmState;
        event.data.data32[0] = listed ? 0 : 1; // remove, add
        event.data.data32[1] = skipTaskbar;
        event.data.data32[3] = 1; // from an application
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        xcb_send_event(c, 0, root,
                       XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                       reinterpret_cast<const char *>(&event));
    }
    xcb_flush(c);
}

bool X11TaskList::isListed(const QWidget *window) const
{
    xcb_connection_t *c = connection();
    if (!c)
        return true;
    const auto id = static_cast<xcb_window_t>(window->winId());
    const std::vector<xcb_atom_t> atoms = states(c, id, atom(c, "_NET_WM_STATE"));
    return std::find(atoms.begin(), atoms.end(), atom(c, "_NET_WM_STATE_SKIP_TASKBAR")) ==
           atoms.end();
}
