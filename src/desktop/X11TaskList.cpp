#include "desktop/X11TaskList.h"

#include "platform/XcbReply.h"

#include <QGuiApplication>
#include <QWidget>

#include <xcb/xcb_ewmh.h>

#include <QtGui/qguiapplication_platform.h>

#include <algorithm>
#include <vector>

namespace {

// The EWMH atoms of Qt's own X connection, interned for one call: the task-list entry changes
// only when the window moves to or from the tray.
class Ewmh
{
public:
    Ewmh()
    {
        auto *x11 =
            qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        if (!x11 || !x11->connection())
            return;
        m_ready = xcb_ewmh_init_atoms_replies(
                      &m_ewmh, xcb_ewmh_init_atoms(x11->connection(), &m_ewmh), nullptr) != 0;
    }
    ~Ewmh()
    {
        if (m_ready)
            xcb_ewmh_connection_wipe(&m_ewmh);
    }
    Ewmh(const Ewmh &) = delete;
    Ewmh &operator=(const Ewmh &) = delete;

    xcb_ewmh_connection_t *get() { return m_ready ? &m_ewmh : nullptr; }

    std::vector<xcb_atom_t> states(xcb_window_t window)
    {
        xcb_ewmh_get_atoms_reply_t reply;
        if (!xcb_ewmh_get_wm_state_reply(&m_ewmh, xcb_ewmh_get_wm_state(&m_ewmh, window), &reply,
                                         nullptr))
            return {};
        std::vector<xcb_atom_t> atoms(reply.atoms, reply.atoms + reply.atoms_len);
        xcb_ewmh_get_atoms_reply_wipe(&reply);
        return atoms;
    }

private:
    xcb_ewmh_connection_t m_ewmh{};
    bool m_ready = false;
};

} // namespace

void X11TaskList::setListed(QWidget *window, bool listed)
{
    Ewmh ewmh;
    xcb_ewmh_connection_t *e = ewmh.get();
    if (!e)
        return;
    const auto id = static_cast<xcb_window_t>(window->winId());
    if (!window->isVisible()) {
        // An unmapped window carries its state in its property, which the window manager
        // reads when the window is mapped; Qt keeps the states it does not manage itself.
        std::vector<xcb_atom_t> atoms = ewmh.states(id);
        std::erase(atoms, e->_NET_WM_STATE_SKIP_TASKBAR);
        if (!listed)
            atoms.push_back(e->_NET_WM_STATE_SKIP_TASKBAR);
        xcb_ewmh_set_wm_state(e, id, static_cast<uint32_t>(atoms.size()), atoms.data());
    } else {
        // A mapped window asks the window manager.
        xcb_ewmh_request_change_wm_state(
            e, 0, id, listed ? XCB_EWMH_WM_STATE_REMOVE : XCB_EWMH_WM_STATE_ADD,
            e->_NET_WM_STATE_SKIP_TASKBAR, XCB_ATOM_NONE, XCB_EWMH_CLIENT_SOURCE_TYPE_NORMAL);
    }
    xcb_flush(e->connection);
}

bool X11TaskList::isListed(const QWidget *window) const
{
    Ewmh ewmh;
    xcb_ewmh_connection_t *e = ewmh.get();
    if (!e)
        return true;
    const std::vector<xcb_atom_t> atoms = ewmh.states(static_cast<xcb_window_t>(window->winId()));
    return std::find(atoms.begin(), atoms.end(), e->_NET_WM_STATE_SKIP_TASKBAR) == atoms.end();
}
