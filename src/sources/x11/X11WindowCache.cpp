#include "sources/x11/X11WindowCache.h"

#include "platform/Limits.h"
#include "platform/XcbReply.h"
#include "sources/x11/X11TitleText.h"

#include <xcb/xcb.h>

#include <cstdlib>
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

// A CARDINAL such as _NET_WM_PID; nothing when the window does not have it. The second member
// says whether the read itself succeeded.
std::pair<std::optional<std::uint32_t>, bool> takeCardinal(xcb_connection_t *connection,
                                                           xcb_get_property_cookie_t cookie)
{
    xcb_generic_error_t *error = nullptr;
    const XcbReply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection, cookie, &error));
    std::free(error);
    if (!reply || reply->type != XCB_ATOM_CARDINAL || reply->format != 32 ||
        xcb_get_property_value_length(reply.get()) < 4)
        return {std::nullopt, reply != nullptr};
    return {*static_cast<const std::uint32_t *>(xcb_get_property_value(reply.get())), true};
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
    xcb_get_property_cookie_t wmClass{};
    xcb_get_property_cookie_t netWmName{};
    xcb_get_property_cookie_t wmName{};
    xcb_get_property_cookie_t netWmPid{};
};

} // namespace

void X11WindowCache::reset(xcb_connection_t *connection, const X11Atoms &atoms)
{
    m_connection = connection;
    m_atoms = atoms;
    m_windows.clear();
}

bool X11WindowCache::propertyChanged(std::uint32_t window, std::uint32_t property)
{
    // Other properties, such as the user time a window updates at each key, change nothing a
    // walk reports; nor does the title of a window that is no browser's.
    const bool title = property == XCB_ATOM_WM_NAME || property == m_atoms.netWmName;
    if (!title && property != XCB_ATOM_WM_CLASS && property != m_atoms.netWmPid)
        return false;
    const auto entry = m_windows.find(window);
    if (entry == m_windows.end() ||
        (title && entry->second.readable && !entry->second.facts.browser))
        return false;
    entry->second.known = false;
    return true;
}

// Its id may come back as another client's window, with none of our events selected.
void X11WindowCache::destroyed(std::uint32_t window)
{
    m_windows.erase(window);
}

QSet<std::uint32_t> X11WindowCache::refresh(const QList<std::uint32_t> &windows)
{
    // Windows that left the lists are forgotten; should one come back, it is read again.
    if (m_windows.size() > static_cast<std::size_t>(windows.size())) {
        const QSet<std::uint32_t> listed(windows.cbegin(), windows.cend());
        std::erase_if(m_windows, [&](const auto &entry) { return !listed.contains(entry.first); });
    }

    std::vector<WindowReads> reads;
    for (const xcb_window_t window : windows) {
        const auto found = m_windows.find(window);
        if (found != m_windows.end() && (found->second.known || found->second.pending))
            continue;
        // Asked again at each read: a window that was gone at the last one may be another
        // window now, under the same id.
        xcb_change_window_attributes(m_connection, window, XCB_CW_EVENT_MASK, &kClientWindowEvents);
        m_windows[window].pending = true;
        WindowReads read;
        read.window = window;
        read.wmClass = readProperty(m_connection, window, XCB_ATOM_WM_CLASS, classLength);
        read.netWmName = readProperty(m_connection, window, m_atoms.netWmName, titleLength);
        read.wmName = readProperty(m_connection, window, XCB_ATOM_WM_NAME, titleLength);
        read.netWmPid = xcb_get_property(m_connection, false, window, m_atoms.netWmPid,
                                         XCB_ATOM_CARDINAL, 0, 1);
        reads.push_back(read);
    }
    m_windowReads += reads.size();
    QSet<std::uint32_t> changed;
    if (reads.empty())
        return changed;
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

    for (const WindowReads &read : reads) {
        Entry &entry = m_windows[read.window];
        const bool wasReadable = entry.readable;
        const Facts before = entry.facts;
        entry.pending = false;
        entry.readable = false;
        if (xcb_connection_has_error(m_connection))
            continue;
        const std::optional<Property> wmClass = takeProperty(m_connection, read.wmClass);
        const std::optional<Property> netWmName = takeProperty(m_connection, read.netWmName);
        const std::optional<Property> wmName = takeProperty(m_connection, read.wmName);
        const auto [pid, pidRead] = takeCardinal(m_connection, read.netWmPid);
        if (!wmClass || xcb_connection_has_error(m_connection))
            continue;
        // A window that went away during the read is read again at the next walk, if listed.
        entry.known = netWmName && wmName && pidRead;
        entry.readable = true;

        const QByteArray &classBytes = wmClass->bytes;
        const qsizetype split = classBytes.indexOf('\0');
        const QString instance = X11TitleText::decode(classBytes, X11TitleText::Encoding::Latin1);
        const QString className = split < 0 ? QString()
                                            : X11TitleText::decode(classBytes.mid(split + 1),
                                                                   X11TitleText::Encoding::Latin1);
        Facts &facts = entry.facts;
        facts.browser = X11TitleText::isKnownBrowser(instance, className);
        facts.pid = pid;
        facts.pageName.reset();
        if (!facts.browser)
            continue;
        std::optional<QString> title;
        if (netWmName && netWmName->type != XCB_ATOM_NONE)
            title = X11TitleText::decode(netWmName->bytes, encodingOf(netWmName->type));
        else if (wmName && wmName->type != XCB_ATOM_NONE)
            title = X11TitleText::decode(wmName->bytes, encodingOf(wmName->type));
        else if (netWmName && wmName)
            title = QString();
        if (title)
            facts.pageName = X11TitleText::pageNameFromTitle(*title);
        if (!wasReadable || before != facts)
            changed.insert(read.window);
    }
    return changed;
}

const X11WindowCache::Facts *X11WindowCache::facts(std::uint32_t window) const
{
    const auto found = m_windows.find(window);
    return found != m_windows.end() && found->second.readable ? &found->second.facts : nullptr;
}
