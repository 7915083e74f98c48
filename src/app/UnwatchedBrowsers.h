#pragma once

#include "sources/RunningBrowsers.h"

#include <QHash>
#include <QObject>
#include <QPair>
#include <QSet>

#include <functional>

class QLabel;
class QTimer;
class TrayIcon;

// Tells the user of a running browser whose pages no source sees: no bridge connection, no
// debugging endpoint, no X11 window (a native Wayland window, a headless browser). It is said
// once per start of the browser, with a notification from the tray icon while there is one, and
// in the status line. A browser gets several checks after it starts for its first window to
// appear; one that a source sees later is no longer reported, and is reported once more if it
// is lost again.
class UnwatchedBrowsers : public QObject
{
    Q_OBJECT
public:
    // Whether a source sees the pages of this process.
    using Sight = std::function<bool(qint64 pid)>;

    static constexpr int kTicksPerCheck = 4;
    static constexpr int kUnseenChecks = 8;

    UnwatchedBrowsers(RunningBrowsers &running, Sight seen, TrayIcon &tray, QLabel *status,
                      QObject *parent = nullptr);

    // Checks at every kTicksPerCheck-th tick of the scan, right after its walk, so that what the
    // windows source read is fresh; nothing is checked while the protection is suspended.
    void follow(QTimer *scanTimer);
    void check();

    // The main processes of the browsers reported and not seen since.
    QSet<qint64> reported() const;

private:
    struct State
    {
        int unseenChecks = 0;
        bool reported = false;
        QString line;
    };
    using Start = QPair<qint64, quint64>; // the main process and its start time

    void report(State &state, const KnownBrowser &browser);
    void withdraw(State &state);

    RunningBrowsers &m_running;
    Sight m_seen;
    TrayIcon &m_tray;
    QLabel *m_status;
    QHash<Start, State> m_states;
    int m_ticks = 0;
};
