#include "sources/x11/X11BrowserSource.h"

#include "platform/XcbReply.h"
#include "sources/x11/SigpipeGuard.h"

#include <QSocketNotifier>

#include <xcb/xcb.h>

#include <array>
#include <cstdlib>
#include <string_view>

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
    m_tree.reset(m_connection, m_root, m_atoms.wmState);
    m_clientListKnown = false;
    m_eventsPending = false;
    m_readQueued = false;
    m_lastWindows.clear();
    m_walkStale = true;
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
            if (change->window != m_root) {
                m_eventsPending |= m_cache.propertyChanged(change->window, change->atom);
            } else if (change->atom == m_atoms.netClientList) {
                m_clientListKnown = false;
                m_eventsPending = true;
            }
            break;
        case XCB_DESTROY_NOTIFY:
            m_cache.destroyed(reinterpret_cast<const xcb_destroy_notify_event_t *>(event)->window);
            m_walkStale = true;
            break;
        default:
            m_eventsPending |= m_tree.event(event);
            break;
        }
        std::free(event);
    }
    m_walkStale |= m_eventsPending;
    // What changed is read once the event loop comes back to it, so that neither a walk nor a
    // close request reports pages, and a page that keeps changing is read at most once a pass.
    if (m_eventsPending && !m_readQueued) {
        m_readQueued = true;
        QMetaObject::invokeMethod(
            m_notifier.get(),
            [this] {
                m_readQueued = false;
                readChanges();
            },
            Qt::QueuedConnection);
    }
    // A broken connection would wake the notifier for ever; the next walk makes a new one.
    if (xcb_connection_has_error(m_connection))
        m_notifier->setEnabled(false);
}

QList<BrowserPage> X11BrowserSource::walk()
{
    const quint64 coverage = m_coverageVersion ? m_coverageVersion() : 0;
    // The events already here are enough: one that comes later is read and matched as it
    // comes. A round trip to be sure of the last change would wake the program twice a tick.
    // Taking them writes nothing to the server, so it cannot raise SIGPIPE.
    if (m_connection && !xcb_connection_has_error(m_connection)) {
        takeEvents();
        // A window covered by OtherWindows is listed once its time is up, without an event.
        if (!m_walkStale && m_unsettled.isEmpty() && coverage == m_walkCoverage &&
            !xcb_connection_has_error(m_connection))
            return m_lastWalk;
    }
    const SigpipeGuard guard;
    m_windowProcesses.clear();
    m_lastWalk.clear();
    m_walkStale = true;
    if (!connect())
        return {};
    takeEvents();
    // A server that went away since the last walk lists nothing, whatever was kept of it.
    if (xcb_connection_has_error(m_connection))
        return {};
    m_eventsPending = false;
    QHash<std::uint32_t, QDeadlineTimer> unsettled;
    m_walkStale = false;
    m_walkCoverage = coverage;
    m_lastWalk = readPages(
        topLevelWindows(),
        [&](std::optional<std::uint32_t> pid, std::uint32_t window, const QString &pageName) {
            return listed(pid, window, pageName, unsettled);
        },
        false);
    m_unsettled = std::move(unsettled);
    // A client list that could not be read is asked for again at the next walk.
    m_walkStale |= !m_clientListKnown || xcb_connection_has_error(m_connection);
    return m_lastWalk;
}

// Reads what the events taken say changed, and reports the pages a walk would now list for the
// windows that appeared or changed. The events that came in meanwhile are taken for the next
// round.
void X11BrowserSource::readChanges()
{
    if (!m_eventsPending || !m_connection || xcb_connection_has_error(m_connection))
        return;
    const SigpipeGuard guard;
    m_eventsPending = false;
    m_walkStale = true;
    reportPages(readPages(
        topLevelWindows(),
        [this](std::optional<std::uint32_t> pid, std::uint32_t window, const QString &pageName) {
            return listed(pid, window, pageName, m_unsettled);
        },
        true));
    takeEvents();
}

bool X11BrowserSource::listed(std::optional<std::uint32_t> pid, std::uint32_t window,
                              const QString &pageName,
                              QHash<std::uint32_t, QDeadlineTimer> &unsettled) const
{
    const Coverage coverage = pid && m_coverage ? m_coverage(*pid, pageName) : Coverage::None;
    if (coverage != Coverage::OtherWindows)
        return coverage == Coverage::None;
    const QDeadlineTimer since = m_unsettled.value(window, QDeadlineTimer(settleMs));
    unsettled.insert(window, since);
    return since.hasExpired();
}

void X11BrowserSource::setCoverage(
    std::function<Coverage(qint64 pid, const QString &pageName)> coverage,
    std::function<quint64()> version)
{
    m_coverage = std::move(coverage);
    m_coverageVersion = std::move(version);
    m_walkStale = true;
}

void X11BrowserSource::requestCloseProcessWindows(qint64 pid)
{
    QList<BrowserPage> pages;
    {
        const SigpipeGuard guard;
        if (!connect())
            return;
        syncEvents();
        m_walkStale = true;
        pages = readPages(
            topLevelWindows(),
            [pid](std::optional<std::uint32_t> owner, std::uint32_t, const QString &) {
                return owner && static_cast<qint64>(*owner) == pid;
            },
            false);
    }
    for (const BrowserPage &page : pages)
        requestClose(page.handle);
}

// The window manager's list of the windows it manages when there is one. Otherwise the
// clients shown, found in the tree below the root.
QList<std::uint32_t> X11BrowserSource::topLevelWindows()
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
    m_tree.follow(!m_clientList);
    return m_clientList ? *m_clientList : m_tree.clients();
}

QList<BrowserPage> X11BrowserSource::readPages(const QList<std::uint32_t> &windows,
                                               const WindowFilter &keep, bool changedOnly)
{
    QSet<std::uint32_t> changed = m_cache.refresh(windows);
    if (changedOnly && windows != m_lastWindows) {
        const QSet<std::uint32_t> before(m_lastWindows.cbegin(), m_lastWindows.cend());
        for (const std::uint32_t window : windows)
            if (!before.contains(window))
                changed.insert(window);
    }
    m_lastWindows = windows;

    QList<BrowserPage> pages;
    pages.reserve(changedOnly ? changed.size() : windows.size());
    for (const std::uint32_t window : windows) {
        if (changedOnly && !changed.contains(window))
            continue;
        const X11WindowCache::Facts *facts = m_cache.facts(window);
        // A broken connection ends the walk at the first window it left unread.
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
        if (!keep(facts->pid, window, page.pageName.value_or(QString())))
            continue;
        page.address = QString();
        page.handle.backend = 0;
        page.handle.id = QByteArray::number(window);
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
