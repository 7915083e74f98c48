#pragma once

#include <QHash>
#include <QList>
#include <QSet>

#include <xcb/xcb.h>

#include <cstdint>

// The client windows of a display whose window manager publishes no client list (or that has no
// window manager at all), those shown and meant to be managed, in stacking order. The tree is
// searched once; the root's structure events, and those of the clients found below frames, say
// when a window was mapped, unmapped, moved to another parent or restacked, and only then is it
// searched again. Moves, resizes and the menus and tooltips that pop up change nothing.
class X11ClientTree
{
public:
    // Forgets the tree, for a new connection.
    void reset(xcb_connection_t *connection, std::uint32_t root, std::uint32_t wmState);
    // Starts or stops following the root's children: only needed while there is no client list.
    void follow(bool following);
    bool following() const { return m_following; }
    // Takes note of an event; true when the clients may have changed.
    bool event(const xcb_generic_event_t *event);
    // The clients shown now, searched again only if events said the tree changed.
    const QList<std::uint32_t> &clients();

private:
    void search();
    QList<std::uint32_t> clientsOf(const QList<std::uint32_t> &children);

    xcb_connection_t *m_connection = nullptr;
    std::uint32_t m_root = 0;
    std::uint32_t m_wmState = 0;
    bool m_following = false;
    bool m_known = false;
    QList<std::uint32_t> m_clients;
    // Each child of the root, with the sibling just below it, as last searched.
    QHash<std::uint32_t, std::uint32_t> m_below;
    // The root children that stand for the clients shown, and those clients: their unmapping or
    // reparenting changes the list.
    QSet<std::uint32_t> m_shown;
};
