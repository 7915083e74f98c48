#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QThread>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <optional>

struct X11WindowOptions
{
    bool mapped = true;
    bool overrideRedirect = false;
};

// A client of its own on an X display that plays the other programs of the desktop: it makes
// top-level windows with the properties browsers and others set, and can play the window
// manager by keeping _NET_CLIENT_LIST on the root. What it made is removed when it goes.
class X11TestDisplay
{
public:
    // An empty name means $DISPLAY.
    explicit X11TestDisplay(const QByteArray &name = {})
        : m_connection(xcb_connect(name.isEmpty() ? nullptr : name.constData(), &m_screen))
    {
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
        for (int i = 0; i < m_screen && screens.rem > 0; ++i)
            xcb_screen_next(&screens);
        if (!xcb_connection_has_error(m_connection) && screens.rem > 0)
            m_root = screens.data->root;
    }
    ~X11TestDisplay()
    {
        if (isConnected()) {
            if (m_ownsClientList)
                removeClientList();
            for (const xcb_window_t window : std::as_const(m_windows))
                xcb_destroy_window(m_connection, window);
            sync();
        }
        xcb_disconnect(m_connection);
    }
    X11TestDisplay(const X11TestDisplay &) = delete;
    X11TestDisplay &operator=(const X11TestDisplay &) = delete;

    // A connection to $DISPLAY that is still there after a round trip. Xvfb resets itself each
    // time its last client leaves and drops whoever connects meanwhile; a test program holds
    // this one for its whole run so that it happens neither at its start nor between tests.
    static std::unique_ptr<X11TestDisplay> connectSteadily(int timeoutMs)
    {
        const QDeadlineTimer deadline(timeoutMs);
        auto display = std::make_unique<X11TestDisplay>();
        while (!qEnvironmentVariableIsEmpty("DISPLAY") && !deadline.hasExpired()) {
            display->sync();
            if (display->isConnected())
                break;
            QThread::msleep(10);
            display = std::make_unique<X11TestDisplay>();
        }
        return display;
    }

    bool isConnected() const { return !xcb_connection_has_error(m_connection) && m_root; }
    xcb_connection_t *connection() const { return m_connection; }
    xcb_atom_t atom(const QByteArray &name)
    {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, false, name.size(), name.constData()),
            nullptr);
        const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return atom;
    }

    // A 100x100 window on the root, with WM_CLASS set unless both names are empty.
    xcb_window_t createWindow(const QByteArray &instance, const QByteArray &className,
                              X11WindowOptions options = {})
    {
        const xcb_window_t window = xcb_generate_id(m_connection);
        const quint32 overrideRedirect = options.overrideRedirect;
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, m_root, 0, 0, 100, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                          XCB_CW_OVERRIDE_REDIRECT, &overrideRedirect);
        m_windows.append(window);
        if (!instance.isEmpty() || !className.isEmpty())
            setText(window, "WM_CLASS", "STRING", instance + '\0' + className + '\0');
        const xcb_atom_t protocols[] = {atom("WM_DELETE_WINDOW")};
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, atom("WM_PROTOCOLS"),
                            XCB_ATOM_ATOM, 32, 1, protocols);
        if (options.mapped)
            xcb_map_window(m_connection, window);
        sync();
        return window;
    }
    void destroyWindow(xcb_window_t window)
    {
        xcb_destroy_window(m_connection, window);
        m_windows.removeAll(window);
        sync();
    }
    // Sets a property of 8-bit items; the type is an atom's name such as "UTF8_STRING".
    void setText(xcb_window_t window, const QByteArray &property, const QByteArray &type,
                 const QByteArray &bytes)
    {
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, atom(property), atom(type),
                            8, bytes.size(), bytes.constData());
        sync();
    }
    void setClientList(const QList<xcb_window_t> &windows)
    {
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_root, atom("_NET_CLIENT_LIST"),
                            XCB_ATOM_WINDOW, 32, windows.size(), windows.constData());
        m_ownsClientList = true;
        sync();
    }
    void removeClientList()
    {
        xcb_delete_property(m_connection, m_root, atom("_NET_CLIENT_LIST"));
        m_ownsClientList = false;
        sync();
    }
    // Returns once the server has carried out every request sent so far, so that what another
    // client asks next sees their effect.
    void sync()
    {
        std::free(
            xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    }

    struct ClientMessage
    {
        xcb_window_t window = XCB_WINDOW_NONE;
        xcb_atom_t type = XCB_ATOM_NONE;
        quint32 data0 = 0;
    };
    // The next client message sent to one of its windows, or nothing after timeoutMs.
    std::optional<ClientMessage> waitForClientMessage(int timeoutMs)
    {
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired() && isConnected()) {
            while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
                const auto *client = reinterpret_cast<xcb_client_message_event_t *>(event);
                std::optional<ClientMessage> message;
                if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE)
                    message = ClientMessage{client->window, client->type, client->data.data32[0]};
                std::free(event);
                if (message)
                    return message;
            }
            QThread::msleep(5);
        }
        return std::nullopt;
    }

private:
    int m_screen = 0;
    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_root = XCB_WINDOW_NONE;
    QList<xcb_window_t> m_windows;
    bool m_ownsClientList = false;
};
