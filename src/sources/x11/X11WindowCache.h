#pragma once

#include "sources/x11/X11Atoms.h"

#include <QList>
#include <QSet>
#include <QString>

#include <cstdint>
#include <optional>
#include <unordered_map>

struct xcb_connection_t;

// What walks need of each top-level window (its class, process and page name), read once and
// again only after the window says it changed. Each window read is asked for its property and
// structure events first, so that no change after the read goes unnoticed; a window that
// changes many times between two walks is still read once.
class X11WindowCache
{
public:
    struct Facts
    {
        bool browser = false;
        std::optional<std::uint32_t> pid;
        // Browsers only; nothing when the window had no title to read.
        std::optional<QString> pageName;

        friend bool operator==(const Facts &, const Facts &) = default;
    };

    // Forgets every window, for a new connection whose windows have not been read yet.
    void reset(xcb_connection_t *connection, const X11Atoms &atoms);
    // Takes note of the events of the windows read: a property that changed, a window destroyed.
    // True when the window is to be read again.
    bool propertyChanged(std::uint32_t window, std::uint32_t property);
    void destroyed(std::uint32_t window);
    // Reads the windows that are new or changed, all requests sent before any reply is awaited.
    // Returns the browser windows among them whose facts are new or other than before.
    QSet<std::uint32_t> refresh(const QList<std::uint32_t> &windows);
    // The window's facts as the last refresh found them; nothing when its class could not be
    // read (mostly, the window is gone) or the connection broke before it was read.
    const Facts *facts(std::uint32_t window) const;
    // How many times a window has been read.
    quint64 windowReads() const { return m_windowReads; }

private:
    struct Entry
    {
        Facts facts;
        bool known = false;    // read, and unchanged since
        bool readable = false; // its class could be read
        bool pending = false;  // asked for by the refresh under way
    };

    xcb_connection_t *m_connection = nullptr;
    X11Atoms m_atoms;
    // Built in place, never moved: GCC takes a moved empty optional<QString> for uninitialized.
    std::unordered_map<std::uint32_t, Entry> m_windows;
    quint64 m_windowReads = 0;
};
