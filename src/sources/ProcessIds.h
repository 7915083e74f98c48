#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QString>

#include <optional>

// The real user of the process whose folder this is, from its status; nothing when the status
// cannot be read or the id names a thread (whose folder opens, though no listing shows it).
std::optional<uint> processOwner(const QString &folder, qint64 pid);

// Follows the processes of a /proc-like folder from one look to the next, at little cost. Listing
// /proc costs the kernel a lookup of every process, and a look runs every few seconds for as long
// as the program runs; so a look lists only when it must, and otherwise looks up one by one the
// ids handed out since the last look.
class ProcessIds
{
public:
    struct Look
    {
        // Every process now; otherwise the ids made since the last look that still exist, which
        // may include threads (their folders are not listed, but can be opened), and no id of a
        // process that ended since can have come back.
        bool listed = true;
        QList<qint64> pids;
    };

    // Lists again at least every relistMs, so that a caller forgets ids that ended.
    explicit ProcessIds(QString procRoot, qint64 relistMs = 60'000);
    ~ProcessIds();
    ProcessIds(const ProcessIds &) = delete;
    ProcessIds &operator=(const ProcessIds &) = delete;

    Look look();

private:
    QString m_procRoot;
    qint64 m_relistMs = 0;
    QElapsedTimer m_sinceListing;
    std::optional<qint64> m_newest;
    qint64 m_listedCount = 0;
    int m_rootFd = -1;
};
