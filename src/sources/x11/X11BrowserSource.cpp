#include "sources/x11/X11BrowserSource.h"

#include "platform/XcbReply.h"
#include "sources/x11/SigpipeGuard.h"
#include "sources/x11/X11TitleText.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

namespace {

// Property lengths are counted in 32-bit units. WM_CLASS is two short names; a title is read
// only as far as X11TitleText would keep of it.
constexpr std::uint32_t classLength = 256;
constexpr std::uint32_t titleLength = kMaxTextLength;

// A property as read: empty with type None when the window does not have it.
struct Property
{
    QByteArray bytes;
    xcb_atom_t type = XCB_ATOM_NONE;
};

// Nothing when the read failed, which mostly means the window is gone.
std::optional<Property> takeProperty(xcb_connection_t *connection, xcb_get_property_cookie_t cookie)
{
    xcb_generic_error_t *error = nullptr;
    const XcbReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection, cookie, &error));
    std::free(error);
    if (!reply)
        return std::nullopt;
    Property property;
    if (reply->format == 8 && reply->type != XCB_ATOM_NONE) {
        property.type = reply->type;
        property.bytes = QByteArray(static_cast<const char *>(xcb_get_property_value(reply.get())),
                                    xcb_get_property_value_length(reply.get()));
    }
    return property;
}

// A CARDINAL such as _NET_WM_PID; nothing when the window does not have it.
std::optional<std::uint32_t> takeCardinal(xcb_connection_t *connection,
                                          xcb_get_property_cookie_t cookie)
{
    const XcbReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection, cookie, nullptr));
    if (!reply || reply->type != XCB_ATOM_CARDINAL || reply->format != 32 ||
        xcb_get_property_value_length(reply.get()) < 4)
        return std::nullopt;
    return *static_cast<const std::uint32_t *>(xcb_get_property_value(reply.get()));
}

xcb_get_property_cookie_t readProperty(xcb_connection_t *connection, xcb_window_t window,
                                       xcb_atom_t property, std::uint32_t length)
{
    return xcb_get_property(connection, false, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0,
                            length);
}

// The requests of one window, all sent before any reply is awaited.
struct WindowReads
{
    xcb_window_t window = XCB_WINDOW_NONE;
    std::optional<xcb_get_window_attributes_cookie_t> attributes;
    xcb_get_property_cookie_t wmClass{};
    xcb_get_property_cookie_t netWmName{};
    xcb_get_property_cookie_t wmName{};
    xcb_get_property_cookie_t netWmPid{};
};

} // namespace

X11BrowserSource::X11BrowserSource(QString displayName) : m_displayName(std::move(displayName)) {}

X11BrowserSource::~X11BrowserSource()
{
    disconnect();
}

bool X11BrowserSource::connect()
{
    if (m_connection && !xcb_connection_has_error(m_connection))
        return true;
    disconnect();

    const QByteArray name = m_displayName.toLocal8Bit();
    int screen = 0;
    xcb_connection_t *connection =
        xcb_connect(name.isEmpty() ? nullptr : name.constData(), &screen);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screen && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    if (screens.rem <= 0) {
        xcb_disconnect(connection);
        return false;
    }

    static constexpr std::array<std::string_view, 8> names = {
        "_NET_CLIENT_LIST", "_NET_WM_NAME",     "UTF8_STRING", "COMPOUND_TEXT",
        "WM_PROTOCOLS",     "WM_DELETE_WINDOW", "_NET_WM_PID", "WM_STATE",
    };
    std::array<xcb_intern_atom_cookie_t, names.size()> cookies{};
    for (std::size_t i = 0; i < names.size(); ++i)
        cookies[i] = xcb_intern_atom(connection, false, static_cast<std::uint16_t>(names[i].size()),
                                     names[i].data());
    std::array<xcb_atom_t, names.size()> atoms{};
    for (std::size_t i = 0; i < names.size(); ++i) {
        const XcbReply<xcb_intern_atom_reply_t> reply(
            xcb_intern_atom_reply(connection, cookies[i], nullptr));
        atoms[i] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    }
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return false;
    }

    m_connection = connection;
    m_root = screens.data->root;
    m_atoms = {atoms[0], atoms[1], atoms[2], atoms[3], atoms[4], atoms[5], atoms[6], atoms[7]};
    return true;
}

void X11BrowserSource::disconnect()
{
    if (m_connection)
        xcb_disconnect(m_connection);
    m_connection = nullptr;
}

// Nothing here selects events, so what arrives is errors of requests whose outcome does not
// matter, such as a close request to a window that has gone. Left alone they would pile up.
void X11BrowserSource::discardEvents()
{
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection))
        std::free(event);
}

QList<BrowserPage> X11BrowserSource::walk()
{
    const SigpipeGuard guard;
    m_windowProcesses.clear();
    if (!connect())
        return {};
    discardEvents();
    bool fromWindowManager = false;
    const QList<std::uint32_t> windows = topLevelWindows(&fromWindowManager);
    QHash<std::uint32_t, QDeadlineTimer> unsettled;
    const auto keep = [&](std::optional<std::uint32_t> pid, std::uint32_t window,
                          const QString &pageName) {
        const Coverage coverage = pid && m_coverage ? m_coverage(*pid, pageName) : Coverage::None;
        if (coverage != Coverage::OtherWindows)
            return coverage == Coverage::None;
        const QDeadlineTimer since = m_unsettled.value(window, QDeadlineTimer(settleMs));
        unsettled.insert(window, since);
        return since.hasExpired();
    };
    QList<BrowserPage> pages = readPages(windows, fromWindowManager, keep);
    m_unsettled = std::move(unsettled);
    discardEvents();
    return pages;
}

void X11BrowserSource::setCoverage(
    std::function<Coverage(qint64 pid, const QString &pageName)> coverage)
{
    m_coverage = std::move(coverage);
}

void X11BrowserSource::requestCloseProcessWindows(qint64 pid)
{
    QList<BrowserPage> pages;
    {
        const SigpipeGuard guard;
        if (!connect())
            return;
        discardEvents();
        bool fromWindowManager = false;
        const QList<std::uint32_t> windows = topLevelWindows(&fromWindowManager);
        pages =
            readPages(windows, fromWindowManager,
                      [pid](std::optional<std::uint32_t> owner, std::uint32_t, const QString &) {
                          return owner && static_cast<qint64>(*owner) == pid;
                      });
    }
    for (const BrowserPage &page : pages)
        requestClose(page.handle);
}

// The window manager's list of the windows it manages when there is one. Otherwise the root's
// children, or the clients inside them; readPages then keeps those that are shown and meant to
// be managed.
QList<std::uint32_t> X11BrowserSource::topLevelWindows(bool *fromWindowManager)
{
    const xcb_get_property_cookie_t clientList = xcb_get_property(
        m_connection, false, m_root, m_atoms.netClientList, XCB_ATOM_WINDOW, 0, kMaxRows);
    const xcb_query_tree_cookie_t tree = xcb_query_tree(m_connection, m_root);

    QList<std::uint32_t> windows;
    const XcbReply<xcb_get_property_reply_t> list(
        xcb_get_property_reply(m_connection, clientList, nullptr));
    if (list && list->type == XCB_ATOM_WINDOW && list->format == 32) {
        xcb_discard_reply(m_connection, tree.sequence);
        const auto *ids = static_cast<const xcb_window_t *>(xcb_get_property_value(list.get()));
        windows = QList<std::uint32_t>(ids, ids + xcb_get_property_value_length(list.get()) / 4);
        *fromWindowManager = true;
        return windows;
    }
    const XcbReply<xcb_query_tree_reply_t> children(
        xcb_query_tree_reply(m_connection, tree, nullptr));
    if (children) {
        const xcb_window_t *ids = xcb_query_tree_children(children.get());
        windows = QList<std::uint32_t>(
            ids, ids + std::min(xcb_query_tree_children_length(children.get()), kMaxRows));
    }
    *fromWindowManager = false;
    return clientWindows(windows);
}

// A window manager that publishes no client list may still put each client in a frame of its
// own, a child of the root. As ICCCM finds clients, the client is the window below the frame
// that carries WM_STATE; a root child with no such window below it stands for itself, as it
// does with no window manager at all. Each level of the search is one round of requests.
QList<std::uint32_t> X11BrowserSource::clientWindows(const QList<std::uint32_t> &children)
{
    // Frames seen in the wild nest the client at most three levels down.
    constexpr int maxDepth = 4;
    struct Probe
    {
        qsizetype slot; // the root child it stands for
        xcb_window_t window;
    };
    QList<std::uint32_t> clients = children;
    std::vector<bool> found(static_cast<std::size_t>(children.size()), false);
    std::vector<Probe> level;
    for (qsizetype i = 0; i < children.size(); ++i)
        level.push_back({i, children[i]});
    for (int depth = 0; depth < maxDepth && !level.empty(); ++depth) {
        std::vector<xcb_get_property_cookie_t> states;
        for (const Probe &probe : level)
            states.push_back(xcb_get_property(m_connection, false, probe.window, m_atoms.wmState,
                                              XCB_GET_PROPERTY_TYPE_ANY, 0, 0));
        std::vector<Probe> searched;
        for (std::size_t i = 0; i < level.size(); ++i) {
            const XcbReply<xcb_get_property_reply_t> state(
                xcb_get_property_reply(m_connection, states[i], nullptr));
            auto slot = static_cast<std::size_t>(level[i].slot);
            if (found[slot])
                continue;
            if (state && state->type != XCB_ATOM_NONE) {
                found[slot] = true;
                clients[level[i].slot] = level[i].window;
            } else {
                searched.push_back(level[i]);
            }
        }
        std::vector<xcb_query_tree_cookie_t> trees;
        for (const Probe &probe : searched)
            trees.push_back(xcb_query_tree(m_connection, probe.window));
        std::vector<Probe> next;
        for (std::size_t i = 0; i < searched.size(); ++i) {
            const XcbReply<xcb_query_tree_reply_t> tree(
                xcb_query_tree_reply(m_connection, trees[i], nullptr));
            if (!tree)
                continue;
            const xcb_window_t *ids = xcb_query_tree_children(tree.get());
            const int count = xcb_query_tree_children_length(tree.get());
            for (int j = 0; j < count && next.size() < std::size_t(kMaxRows); ++j)
                next.push_back({searched[i].slot, ids[j]});
        }
        level = std::move(next);
    }
    return clients;
}

QList<BrowserPage> X11BrowserSource::readPages(const QList<std::uint32_t> &windows,
                                               bool fromWindowManager, const WindowFilter &keep)
{
    std::vector<WindowReads> reads;
    reads.reserve(static_cast<std::size_t>(windows.size()));
    for (const xcb_window_t window : windows) {
        WindowReads read;
        read.window = window;
        if (!fromWindowManager)
            read.attributes = xcb_get_window_attributes(m_connection, window);
        read.wmClass = readProperty(m_connection, window, XCB_ATOM_WM_CLASS, classLength);
        read.netWmName = readProperty(m_connection, window, m_atoms.netWmName, titleLength);
        read.wmName = readProperty(m_connection, window, XCB_ATOM_WM_NAME, titleLength);
        read.netWmPid = xcb_get_property(m_connection, false, window, m_atoms.netWmPid,
                                         XCB_ATOM_CARDINAL, 0, 1);
        reads.push_back(read);
    }
    xcb_flush(m_connection);

    const auto encodingOf = [this](xcb_atom_t type) {
        if (type == m_atoms.utf8String)
            return X11TitleText::Encoding::Utf8;
        if (type == XCB_ATOM_STRING)
            return X11TitleText::Encoding::Latin1;
        if (type == m_atoms.compoundText)
            return X11TitleText::Encoding::CompoundText;
        return X11TitleText::Encoding::Unknown;
    };

    QList<BrowserPage> pages;
    for (const WindowReads &read : reads) {
        if (xcb_connection_has_error(m_connection))
            break;
        const auto skip = [&] {
            xcb_discard_reply(m_connection, read.wmClass.sequence);
            xcb_discard_reply(m_connection, read.netWmName.sequence);
            xcb_discard_reply(m_connection, read.wmName.sequence);
            xcb_discard_reply(m_connection, read.netWmPid.sequence);
        };
        if (read.attributes) {
            const XcbReply<xcb_get_window_attributes_reply_t> attributes(
                xcb_get_window_attributes_reply(m_connection, *read.attributes, nullptr));
            if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE ||
                attributes->override_redirect) {
                skip();
                continue;
            }
        }
        const std::optional<Property> wmClass = takeProperty(m_connection, read.wmClass);
        const QByteArray &classBytes = wmClass ? wmClass->bytes : QByteArray();
        const qsizetype split = classBytes.indexOf('\0');
        const QString instance = X11TitleText::decode(classBytes, X11TitleText::Encoding::Latin1);
        const QString className = split < 0 ? QString()
                                            : X11TitleText::decode(classBytes.mid(split + 1),
                                                                   X11TitleText::Encoding::Latin1);
        const std::optional<std::uint32_t> pid = takeCardinal(m_connection, read.netWmPid);
        const bool browser = X11TitleText::isKnownBrowser(instance, className);
        if (browser && pid)
            m_windowProcesses.insert(*pid);
        if (!browser) {
            xcb_discard_reply(m_connection, read.netWmName.sequence);
            xcb_discard_reply(m_connection, read.wmName.sequence);
            continue;
        }

        const std::optional<Property> netWmName = takeProperty(m_connection, read.netWmName);
        const std::optional<Property> wmName = takeProperty(m_connection, read.wmName);
        if (xcb_connection_has_error(m_connection))
            break;
        std::optional<QString> title;
        if (netWmName && netWmName->type != XCB_ATOM_NONE)
            title = X11TitleText::decode(netWmName->bytes, encodingOf(netWmName->type));
        else if (wmName && wmName->type != XCB_ATOM_NONE)
            title = X11TitleText::decode(wmName->bytes, encodingOf(wmName->type));
        else if (netWmName && wmName)
            title = QString();

        BrowserPage page;
        if (title)
            page.pageName = X11TitleText::pageNameFromTitle(*title);
        if (!keep(pid, read.window, page.pageName.value_or(QString())))
            continue;
        page.address = QString();
        page.handle.backend = 0;
        page.handle.id = QByteArray::number(read.window);
        pages.append(std::move(page));
    }
    return pages;
}

void X11BrowserSource::requestClose(const WindowHandle &handle)
{
    bool ok = false;
    const xcb_window_t window = handle.id.toUInt(&ok);
    if (!ok || window == XCB_WINDOW_NONE)
        return;
    const SigpipeGuard guard;
    if (!connect())
        return;
    discardEvents();

    // ICCCM's polite close: the browser closes the window as if its close button was pressed.
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = m_atoms.wmProtocols;
    message.data.data32[0] = m_atoms.wmDeleteWindow;
    message.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(m_connection, false, window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char *>(&message));
    xcb_flush(m_connection);
}
