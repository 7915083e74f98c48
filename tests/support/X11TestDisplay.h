#pragma once

#include <QByteArray>
#include <QList>

#include <xcb/xcb.h>

#include <memory>
#include <optional>

// A client of its own on an X display that plays the other programs of the desktop: it makes
// top-level windows with the properties browsers and others set, and can play the window
// manager by keeping _NET_CLIENT_LIST on the root. What it made is removed when it goes.
class X11TestDisplay
{
public:
    // An empty name means $DISPLAY.
    explicit X11TestDisplay(const QByteArray &displayName = {});
    ~X11TestDisplay();

    // A connection to $DISPLAY that is still there after a round trip. Xvfb resets itself each
    // time its last client leaves and drops whoever connects meanwhile; a test program holds
    // this one for its whole run so that it happens neither at its start nor between tests.
    static std::unique_ptr<X11TestDisplay> connectSteadily(int timeoutMs);

    X11TestDisplay(const X11TestDisplay &) = delete;
    X11TestDisplay &operator=(const X11TestDisplay &) = delete;

    bool isConnected() const;
    xcb_connection_t *connection() const { return m_connection; }
    xcb_atom_t atom(const QByteArray &name);

    struct WindowOptions
    {
        bool mapped = true;
        bool overrideRedirect = false;
    };
    // A 100x100 window on the root, with WM_CLASS set unless both names are empty.
    xcb_window_t createWindow(const QByteArray &instance, const QByteArray &className,
                              WindowOptions options);
    xcb_window_t createWindow(const QByteArray &instance, const QByteArray &className)
    {
        return createWindow(instance, className, WindowOptions{});
    }
    // Unmapped windows without properties, made in one go.
    QList<xcb_window_t> createBareWindows(int count);
    void destroyWindow(xcb_window_t window);
    // Sets a property of 8-bit items; the type is an atom's name such as "UTF8_STRING".
    void setText(xcb_window_t window, const QByteArray &property, const QByteArray &type,
                 const QByteArray &bytes);

    void setClientList(const QList<xcb_window_t> &windows);
    void removeClientList();

    // Returns once the server has carried out every request sent so far, so that what another
    // client asks next sees their effect.
    void sync();

    struct ClientMessage
    {
        xcb_window_t window = XCB_WINDOW_NONE;
        xcb_atom_t type = XCB_ATOM_NONE;
        quint32 data0 = 0;
    };
    // The next client message sent to one of its windows, or nothing after timeoutMs.
    std::optional<ClientMessage> waitForClientMessage(int timeoutMs);

private:
    xcb_connection_t *m_connection = nullptr;
    xcb_window_t m_root = XCB_WINDOW_NONE;
    QList<xcb_window_t> m_windows;
    bool m_ownsClientList = false;
};
