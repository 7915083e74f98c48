#include "sources/x11/X11ClientTree.h"

#include "platform/Limits.h"
#include "platform/XcbReply.h"
#include "sources/x11/X11Atoms.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <vector>

void X11ClientTree::reset(xcb_connection_t *connection, std::uint32_t root, std::uint32_t wmState)
{
    m_connection = connection;
    m_root = root;
    m_wmState = wmState;
    m_following = false;
    m_known = false;
    m_clients.clear();
    m_below.clear();
    m_shown.clear();
}

void X11ClientTree::follow(bool following)
{
    if (following == m_following)
        return;
    m_following = following;
    m_known = false;
    // Asked before the tree is searched, so that no change after the search goes unnoticed.
    const std::uint32_t events =
        XCB_EVENT_MASK_PROPERTY_CHANGE | (following ? XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY : 0);
    xcb_change_window_attributes(m_connection, m_root, XCB_CW_EVENT_MASK, &events);
}

bool X11ClientTree::event(const xcb_generic_event_t *event)
{
    if (!m_following)
        return false;
    bool changed = false;
    switch (event->response_type & 0x7f) {
    case XCB_MAP_NOTIFY:
        changed = !reinterpret_cast<const xcb_map_notify_event_t *>(event)->override_redirect;
        break;
    case XCB_UNMAP_NOTIFY:
        changed =
            m_shown.contains(reinterpret_cast<const xcb_unmap_notify_event_t *>(event)->window);
        break;
    case XCB_REPARENT_NOTIFY: {
        const auto *reparent = reinterpret_cast<const xcb_reparent_notify_event_t *>(event);
        changed = !reparent->override_redirect &&
                  (reparent->parent == m_root || m_shown.contains(reparent->window));
        break;
    }
    case XCB_CONFIGURE_NOTIFY: {
        // Restacked when the sibling below it is another one; a window that stays where it is in
        // the stack keeps it.
        const auto *configure = reinterpret_cast<const xcb_configure_notify_event_t *>(event);
        changed = configure->event == m_root && !configure->override_redirect &&
                  m_below.value(configure->window, XCB_WINDOW_NONE) != configure->above_sibling;
        break;
    }
    case XCB_CIRCULATE_NOTIFY:
        changed = reinterpret_cast<const xcb_circulate_notify_event_t *>(event)->event == m_root;
        break;
    default:
        break;
    }
    if (changed)
        m_known = false;
    return changed;
}

const QList<std::uint32_t> &X11ClientTree::clients()
{
    if (!m_known)
        search();
    return m_clients;
}

void X11ClientTree::search()
{
    m_clients.clear();
    m_below.clear();
    m_shown.clear();
    const XcbReply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_root), nullptr));
    if (!tree)
        return;
    const xcb_window_t *ids = xcb_query_tree_children(tree.get());
    const QList<std::uint32_t> children(
        ids, ids + std::min(xcb_query_tree_children_length(tree.get()), kMaxRows));
    for (qsizetype i = 0; i < children.size(); ++i)
        m_below.insert(children[i], i > 0 ? children[i - 1] : std::uint32_t(XCB_WINDOW_NONE));
    const QList<std::uint32_t> clients = clientsOf(children);

    // Whether a window is shown is asked after its events are, so that a change after the
    // answer is told.
    std::vector<xcb_get_window_attributes_cookie_t> attributes;
    attributes.reserve(static_cast<std::size_t>(clients.size()));
    for (qsizetype i = 0; i < clients.size(); ++i) {
        if (clients[i] != children[i])
            xcb_change_window_attributes(m_connection, clients[i], XCB_CW_EVENT_MASK,
                                         &kClientWindowEvents);
        attributes.push_back(xcb_get_window_attributes(m_connection, clients[i]));
    }
    for (qsizetype i = 0; i < clients.size(); ++i) {
        const XcbReply<xcb_get_window_attributes_reply_t> shown(xcb_get_window_attributes_reply(
            m_connection, attributes[static_cast<std::size_t>(i)], nullptr));
        if (!shown || shown->map_state != XCB_MAP_STATE_VIEWABLE || shown->override_redirect)
            continue;
        m_clients.append(clients[i]);
        m_shown.insert(children[i]);
        m_shown.insert(clients[i]);
    }
    // A search that the connection broke is done again at the next walk.
    m_known = !xcb_connection_has_error(m_connection);
}

// A window manager that publishes no client list may still put each client in a frame of its
// own, a child of the root. As ICCCM finds clients, the client is the window below the frame
// that carries WM_STATE; a root child with no such window below it stands for itself, as it
// does with no window manager at all. Each level of the search is one round of requests.
QList<std::uint32_t> X11ClientTree::clientsOf(const QList<std::uint32_t> &children)
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
            states.push_back(xcb_get_property(m_connection, false, probe.window, m_wmState,
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
