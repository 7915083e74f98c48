#include "sources/x11/X11BrowserSource.h"

#include "platform/XcbReply.h"
#include "sources/x11/SigpipeGuard.h"

#include <QSocketNotifier>

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string_view>
#include <vector>

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
    // The root's property events tell when the client list changes.
    const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(m_connection, m_root, XCB_CW_EVENT_MASK, &events);
    m_cache.reset(m_connection, m_atoms);
    m_clientListKnown = false;
    // Events are taken as they come, so that they do not pile up in the server while no walk
    // takes them, such as when scanning is paused and a page renames itself all the while.
    m_notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(m_connection),
                                                   QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { takeEvents(); });
    return true;
}

void X11BrowserSource::disconnect()
{
    m_notifier.reset();
    if (m_connection)
        xcb_disconnect(m_connection);
    m_connection = nullptr;
}

// The round trip makes sure that every change the server made before a walk began has its
// event here.
void X11BrowserSource::syncEvents()
{
    std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
    takeEvents();
}

// Errors of requests whose outcome does not matter, such as a close request to a window that has
// gone, are let go.
void X11BrowserSource::takeEvents()
{
    while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
        const auto *change = reinterpret_cast<const xcb_property_notify_event_t *>(event);
        switch (event->response_type & 0x7f) {
        case XCB_PROPERTY_NOTIFY:
            if (change->window != m_root)
                m_cache.propertyChanged(change->window, change->atom);
            else if (change->atom == m_atoms.netClientList)
                m_clientListKnown = false;
            break;
        case XCB_DESTROY_NOTIFY:
            m_cache.destroyed(reinterpret_cast<const xcb_destroy_notify_event_t *>(event)->window);
            break;
        default:
            break;
        }
        std::free(event);
    }
    // A broken connection would wake the notifier for ever; the next walk makes a new one.
    if (xcb_connection_has_error(m_connection))
        m_notifier->setEnabled(false);
}

QList<BrowserPage> X11BrowserSource::walk()
{
    const SigpipeGuard guard;
    m_windowProcesses.clear();
    if (!connect())
        return {};
    syncEvents();
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
        syncEvents();
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
    if (!m_clientListKnown) {
        const XcbReply<xcb_get_property_reply_t> list(xcb_get_property_reply(
            m_connection,
            xcb_get_property(m_connection, false, m_root, m_atoms.netClientList, XCB_ATOM_WINDOW, 0,
                             kMaxRows),
            nullptr));
        m_clientList.reset();
        if (list && list->type == XCB_ATOM_WINDOW && list->format == 32) {
            const auto *ids = static_cast<const xcb_window_t *>(xcb_get_property_value(list.get()));
            m_clientList.emplace(ids, ids + xcb_get_property_value_length(list.get()) / 4);
        }
        // A read that failed is tried again at the next walk.
        m_clientListKnown = list != nullptr;
    }
    if (m_clientList) {
        *fromWindowManager = true;
        return *m_clientList;
    }

    // Without the list, the tree is searched at every walk.
    QList<std::uint32_t> windows;
    const XcbReply<xcb_query_tree_reply_t> children(
        xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_root), nullptr));
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
    // Whether a window is shown is not kept: it changes with no property event.
    std::vector<xcb_get_window_attributes_cookie_t> attributes;
    if (!fromWindowManager) {
        attributes.reserve(static_cast<std::size_t>(windows.size()));
        for (const xcb_window_t window : windows)
            attributes.push_back(xcb_get_window_attributes(m_connection, window));
    }
    m_cache.refresh(windows);

    QList<BrowserPage> pages;
    // A broken connection ends the walk at the first window it left unread.
    for (qsizetype i = 0; i < windows.size(); ++i) {
        if (!fromWindowManager) {
            const XcbReply<xcb_get_window_attributes_reply_t> shown(xcb_get_window_attributes_reply(
                m_connection, attributes[static_cast<std::size_t>(i)], nullptr));
            if (!shown && xcb_connection_has_error(m_connection))
                break;
            if (!shown || shown->map_state != XCB_MAP_STATE_VIEWABLE || shown->override_redirect)
                continue;
        }
        const X11WindowCache::Facts *facts = m_cache.facts(windows[i]);
        if (!facts && xcb_connection_has_error(m_connection))
            break;
        if (!facts)
            continue;
        if (facts->browser && facts->pid)
            m_windowProcesses.insert(*facts->pid);
        if (!facts->browser)
            continue;
        BrowserPage page;
        page.pageName = facts->pageName;
        if (!keep(facts->pid, windows[i], page.pageName.value_or(QString())))
            continue;
        page.address = QString();
        page.handle.backend = 0;
        page.handle.id = QByteArray::number(windows[i]);
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
    takeEvents();

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
