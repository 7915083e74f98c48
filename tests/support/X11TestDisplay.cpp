#include "support/X11TestDisplay.h"

#include <QDeadlineTimer>
#include <QThread>

#include <cstdlib>

X11TestDisplay::X11TestDisplay(const QByteArray &displayName)
{
    int screen = 0;
    m_connection = xcb_connect(displayName.isEmpty() ? nullptr : displayName.constData(), &screen);
    if (xcb_connection_has_error(m_connection))
        return;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < screen && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    if (screens.rem > 0)
        m_root = screens.data->root;
}

std::unique_ptr<X11TestDisplay> X11TestDisplay::connectSteadily(int timeoutMs)
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

X11TestDisplay::~X11TestDisplay()
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

bool X11TestDisplay::isConnected() const
{
    return !xcb_connection_has_error(m_connection) && m_root != XCB_WINDOW_NONE;
}

xcb_atom_t X11TestDisplay::atom(const QByteArray &name)
{
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
        m_connection,
        xcb_intern_atom(m_connection, false, static_cast<quint16>(name.size()), name.constData()),
        nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

xcb_window_t X11TestDisplay::createWindow(const QByteArray &instance, const QByteArray &className,
                                          WindowOptions options)
{
    const xcb_window_t window = xcb_generate_id(m_connection);
    const quint32 values[] = {options.overrideRedirect ? 1u : 0u};
    xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, m_root, 0, 0, 100, 100, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT,
                      values);
    m_windows.append(window);
    if (!instance.isEmpty() || !className.isEmpty()) {
        const QByteArray wmClass = instance + '\0' + className + '\0';
        xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS,
                            XCB_ATOM_STRING, 8, static_cast<quint32>(wmClass.size()),
                            wmClass.constData());
    }
    const xcb_atom_t protocols[] = {atom("WM_DELETE_WINDOW")};
    xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, atom("WM_PROTOCOLS"),
                        XCB_ATOM_ATOM, 32, 1, protocols);
    if (options.mapped)
        xcb_map_window(m_connection, window);
    sync();
    return window;
}

QList<xcb_window_t> X11TestDisplay::createBareWindows(int count)
{
    QList<xcb_window_t> windows;
    for (int i = 0; i < count; ++i) {
        const xcb_window_t window = xcb_generate_id(m_connection);
        xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, m_root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        windows.append(window);
    }
    m_windows.append(windows);
    sync();
    return windows;
}

void X11TestDisplay::destroyWindow(xcb_window_t window)
{
    xcb_destroy_window(m_connection, window);
    m_windows.removeAll(window);
    sync();
}

void X11TestDisplay::setText(xcb_window_t window, const QByteArray &property,
                             const QByteArray &type, const QByteArray &bytes)
{
    xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, window, atom(property), atom(type), 8,
                        static_cast<quint32>(bytes.size()), bytes.constData());
    sync();
}

void X11TestDisplay::setClientList(const QList<xcb_window_t> &windows)
{
    xcb_change_property(m_connection, XCB_PROP_MODE_REPLACE, m_root, atom("_NET_CLIENT_LIST"),
                        XCB_ATOM_WINDOW, 32, static_cast<quint32>(windows.size()),
                        windows.constData());
    m_ownsClientList = true;
    sync();
}

void X11TestDisplay::removeClientList()
{
    xcb_delete_property(m_connection, m_root, atom("_NET_CLIENT_LIST"));
    m_ownsClientList = false;
    sync();
}

void X11TestDisplay::sync()
{
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
}

std::optional<X11TestDisplay::ClientMessage> X11TestDisplay::waitForClientMessage(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired() && isConnected()) {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
            std::optional<ClientMessage> message;
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                const auto *client = reinterpret_cast<xcb_client_message_event_t *>(event);
                message = ClientMessage{client->window, client->type, client->data.data32[0]};
            }
            std::free(event);
            if (message)
                return message;
        }
        QThread::msleep(5);
    }
    return std::nullopt;
}
