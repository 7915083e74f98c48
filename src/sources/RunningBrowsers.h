#pragma once

#include "sources/ProcessIds.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <memory>
#include <optional>

struct KnownBrowser;

// One start of a browser of the catalogue: its main process, and the processes of the same
// executable below it (Chromium's zygotes and renderers, Firefox's content processes).
struct RunningBrowser
{
    qint64 pid = 0;
    // When the main process started, in clock ticks after boot: with the id, it tells one start
    // of the browser from the next.
    quint64 startTime = 0;
    const KnownBrowser *browser = nullptr;
    QList<qint64> processes; // the main process first
};

// Finds the browsers of the catalogue that one user runs, by reading a /proc-like folder tree.
// A look runs every few seconds for as long as the program runs, so a process that has proved
// to be no browser of the user is not read again while it lives, and between listings of /proc
// a browser costs one lookup of its main process. A look that finds no process new or gone, and
// none still to settle, gives the browsers of the last.
class RunningBrowsers
{
public:
    // A process is watched for settleMs before it is taken for no browser for good: long
    // enough for a wrapper script to have become the browser it starts.
    explicit RunningBrowsers(QString procRoot = QStringLiteral("/proc"),
                             std::optional<uint> userId = std::nullopt, qint64 settleMs = 10'000);
    // Looks through the census that the program's other lookers share.
    explicit RunningBrowsers(std::shared_ptr<ProcessIds> census,
                             std::optional<uint> userId = std::nullopt, qint64 settleMs = 10'000);

    QList<RunningBrowser> look();

private:
    struct Process
    {
        qint64 firstSeenMs = 0;
        bool settled = false; // no browser of this user, for good
        const KnownBrowser *browser = nullptr;
        bool helper = false;
        qint64 parent = 0;
        quint64 startTime = 0;
    };

    void inspect(const QString &folder, qint64 pid, Process &process, qint64 now) const;
    qint64 mainOf(qint64 pid) const;

    QString m_procRoot;
    uint m_userId = 0;
    qint64 m_settleMs = 0;
    QElapsedTimer m_clock;
    QHash<qint64, Process> m_processes;
    std::shared_ptr<ProcessIds> m_census;
    ProcessIds::Cursor m_cursor;
    // The main processes of the browsers the last look found.
    QSet<qint64> m_mains;
    QList<RunningBrowser> m_browsers;
    // Processes of the last look that may yet prove to be browsers.
    bool m_settling = true;
};
