#pragma once

#include "platform/BrowserWindowSource.h"
#include "platform/Limits.h"
#include "sources/x11/X11Atoms.h"
#include "sources/x11/X11ClientTree.h"
#include "sources/x11/X11WindowCache.h"

#include <QDeadlineTimer>
#include <QHash>
#include <QSet>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QSocketNotifier;
struct xcb_connection_t;

// The browser windows of an X11 display, found by their WM_CLASS. A window's title is the
// only thing X11 tells about its page, so every page's address is an empty string. A handle's
// id is the window's id as decimal text.
//
// The connection is opened on first use and again after it breaks; while the display cannot
// be reached, walks yield nothing. What was read of the windows is kept, and the display's
// events say what to read again: the window manager's client list when it changes (or, with no
// list, the windows shown on the root), a window's class, process and title when they change,
// so that a walk with nothing changed reads nothing and gives the list it gave last, shared. A
// new connection reads everything.
// The events are read as they come, on the thread that made the source, and a window that
// appears or changes has its page reported at once. One thread at a time.
class X11BrowserSource : public BrowserWindowSource
{
public:
    // An empty display name means $DISPLAY.
    explicit X11BrowserSource(QString displayName = {});
    ~X11BrowserSource() override;

    X11BrowserSource(const X11BrowserSource &) = delete;
    X11BrowserSource &operator=(const X11BrowserSource &) = delete;

    QList<BrowserPage> walk() override;
    void requestClose(const WindowHandle &handle) override;

    // How far another backend, which lists pages one by one and closes them one by one, covers
    // a browser window, told by the window's _NET_WM_PID and page name at every walk.
    enum class Coverage
    {
        // No backend lists the pages of the process: the window is walked.
        None,
        // A backend lists the page the window shows: the window is left out.
        Window,
        // A backend lists pages of the process, but not this window's (a private window, or
        // another profile's): the window is walked once it has been so for settleMs, so that a
        // list that comes a moment after a new title does not get the page closed twice.
        OtherWindows,
    };
    static constexpr int settleMs = 1500;
    // The coverage is asked again once its version, a number that changes whenever one of
    // its answers may have, changed.
    void setCoverage(std::function<Coverage(qint64 pid, const QString &pageName)> coverage,
                     std::function<quint64()> version);
    // The processes, by _NET_WM_PID, of the browser windows the last walk found, whether it
    // listed them or not.
    const QSet<qint64> &windowProcesses() const { return m_windowProcesses; }
    // Asks every browser window of the process to close, whether walks list it or not.
    void requestCloseProcessWindows(qint64 pid);
    // How many times walks have read a window's properties, which a walk with nothing changed
    // leaves as it is.
    quint64 windowReads() const { return m_cache.windowReads(); }

private:
    // Whether a window of a browser, by the process id it gives (if any), its id and its page
    // name, is walked.
    using WindowFilter = std::function<bool(std::optional<std::uint32_t> pid, std::uint32_t window,
                                            const QString &pageName)>;

    bool connect();
    void disconnect();
    void syncEvents();
    void takeEvents();
    void readChanges();
    QList<std::uint32_t> topLevelWindows();
    // Whether a walk lists the browser window, noting in unsettled since when it has been
    // covered by OtherWindows.
    bool listed(std::optional<std::uint32_t> pid, std::uint32_t window, const QString &pageName,
                QHash<std::uint32_t, QDeadlineTimer> &unsettled) const;
    // The pages of the windows kept; with changedOnly, only of those that are new to the list or
    // whose class, process or page name changed since they were last read.
    QList<BrowserPage> readPages(const QList<std::uint32_t> &windows, const WindowFilter &keep,
                                 bool changedOnly);

    QString m_displayName;
    xcb_connection_t *m_connection = nullptr;
    std::unique_ptr<QSocketNotifier> m_notifier;
    std::uint32_t m_root = 0;
    X11Atoms m_atoms;
    X11WindowCache m_cache;
    X11ClientTree m_tree;
    // Set when events said that something walks list may have changed, until it is read.
    bool m_eventsPending = false;
    bool m_readQueued = false;
    // The top-level windows as last read.
    QList<std::uint32_t> m_lastWindows;
    // The window manager's list as last read, nothing when it publishes none; read again when
    // it changes.
    std::optional<QList<std::uint32_t>> m_clientList;
    bool m_clientListKnown = false;
    QSet<qint64> m_windowProcesses;
    std::function<Coverage(qint64 pid, const QString &pageName)> m_coverage;
    std::function<quint64()> m_coverageVersion;
    // What the last walk listed, and whether it may no longer stand: events came, or the
    // windows were read since, or the coverage it was made with changed.
    QList<BrowserPage> m_lastWalk;
    bool m_walkStale = true;
    quint64 m_walkCoverage = 0;
    // The windows of the last walk whose coverage was OtherWindows, and since when.
    QHash<std::uint32_t, QDeadlineTimer> m_unsettled;
};
