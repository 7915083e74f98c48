#pragma once

#include "sources/ProcessIds.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>

#include <map>
#include <memory>
#include <optional>

// A browser process that listens for remote debugging on a loopback port.
struct DebugEndpoint
{
    enum class Kind
    {
        Chromium, // the DevTools HTTP endpoints
        Firefox,  // WebDriver BiDi over a WebSocket
    };

    Kind kind = Kind::Chromium;
    qint64 pid = 0;
    quint16 port = 0;
    // Chromium's port file names the browser's own DevTools target too, which tells a fresh
    // file from one left behind by an earlier run. Empty when the port came from the command
    // line.
    QByteArray browserTarget;

    friend bool operator==(const DebugEndpoint &, const DebugEndpoint &) = default;
};

// Finds browsers started with --remote-debugging-port among the processes of one user, by
// reading a /proc-like folder tree. Helper processes are left out: Chromium's carry --type=,
// Firefox's -contentproc. For port 0 the browser writes the port it got into its profile, and
// that file is read. An endpoint is given only while the browser itself holds the listening
// socket. Nothing here talks to the browsers; the endpoints still have to be checked.
// A look runs every few seconds for as long as the program runs, so a process that has proved
// to be no browser of the kind asked for is not read again while it lives.
class ProcessDiscovery
{
public:
    // A process is watched for settleMs before it is taken for no browser for good: long
    // enough for a wrapper script to have become the browser it starts.
    explicit ProcessDiscovery(QString procRoot = QStringLiteral("/proc"),
                              std::optional<uint> userId = std::nullopt, qint64 settleMs = 10'000);
    // Looks through the census that the program's other lookers share.
    explicit ProcessDiscovery(std::shared_ptr<ProcessIds> census,
                              std::optional<uint> userId = std::nullopt, qint64 settleMs = 10'000);

    QList<DebugEndpoint> find(DebugEndpoint::Kind kind);
    // Whether, at the last find, some process might yet prove to be a browser of the kind, or
    // was one: it is to be looked at again without news of the census.
    bool settling(DebugEndpoint::Kind kind) const;

    // Firefox's port when the option is given without one.
    static constexpr quint16 firefoxDefaultPort = 9222;

private:
    // Whether a process is no browser of the kind asked for with remote debugging: as it runs
    // now, for a wrapper may yet exec one, or for good.
    enum class RuledOut
    {
        No,
        ForNow,
        ForGood,
    };
    std::optional<DebugEndpoint> inspect(const QString &processFolder, qint64 pid,
                                         DebugEndpoint::Kind kind, RuledOut &ruledOut) const;
    std::optional<DebugEndpoint> chromiumEndpoint(const QString &processFolder,
                                                  const QList<QByteArray> &arguments,
                                                  RuledOut &ruledOut) const;
    std::optional<DebugEndpoint> firefoxEndpoint(const QString &processFolder,
                                                 const QList<QByteArray> &arguments,
                                                 RuledOut &ruledOut) const;
    QString firefoxProfile(const QString &processFolder, const QList<QByteArray> &arguments) const;
    bool holdsPort(const QString &processFolder, quint16 port) const;

    // Process ids of one kind's look, with when each was first seen and whether it is known
    // to be no browser of that kind for good.
    struct Seen
    {
        qint64 firstSeenMs = 0;
        bool settled = false;
    };
    using SeenKey = QPair<qint64, int>;

    QString m_procRoot;
    uint m_userId = 0;
    qint64 m_settleMs = 0;
    QElapsedTimer m_clock;
    QHash<SeenKey, Seen> m_seen;
    // The processes followed by each kind's looks.
    std::shared_ptr<ProcessIds> m_census;
    std::map<int, ProcessIds::Cursor> m_cursors;
};
