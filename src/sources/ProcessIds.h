#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QMutex>
#include <QString>

#include <functional>
#include <map>
#include <optional>

// The real user of the process whose folder this is, from its status; nothing when the status
// cannot be read or the id names a thread (whose folder opens, though no listing shows it).
std::optional<uint> processOwner(const QString &folder, qint64 pid);

// The arguments of the process whose folder this is, read up to cap bytes; none for a kernel
// thread, a zombie or a process in the middle of an exec, and nothing when the command line
// cannot be read.
std::optional<QList<QByteArray>> processArguments(const QString &folder, qint64 cap);

// The fields of the stat of the process whose folder this is, from its state on: "pid (name)
// state ppid ...", where the name may hold blanks and parentheses, is cut at the last ")". None
// when the stat cannot be read.
QList<QByteArray> processStatFields(const QString &folder);

// Whether the process whose folder this is, from its stat, is a kernel thread or a zombie, which
// will never exec a program.
bool isKernelThreadOrZombie(const QString &folder);

// Follows the processes of a /proc-like folder from one look to the next, at little cost, for
// every part of the program that looks for browsers: they run on threads of their own and share
// one census, so that /proc is read once for all of them. A look runs every few seconds for as
// long as the program runs: so the census reads the kernel's newest id first, and looks for new
// processes only when some process or thread was made since, by listing /proc from the first new
// id on. Each looker is then told of the processes new to it. A browser's threads come and go
// all the time, and no listing shows them.
class ProcessIds
{
public:
    struct Look
    {
        // Every process; otherwise the processes made since this looker's last look, of which
        // some may have ended since, and no id of a process that ended can have come back.
        bool listed = true;
        QList<qint64> pids;
        // Listed since ids wrapped round, or since the newest could not be read: an id known
        // before may now name another process.
        bool idsCameBack = true;
    };

    // Where one looker stands: the listing it was given and how many processes made since.
    struct Cursor
    {
        quint64 listing = 0;
        qsizetype told = 0;
    };

    // Every looker is given every process again at least every relistMs, so that it forgets
    // ids that ended.
    explicit ProcessIds(QString procRoot, qint64 relistMs = 60'000);
    ~ProcessIds();
    ProcessIds(const ProcessIds &) = delete;
    ProcessIds &operator=(const ProcessIds &) = delete;

    const QString &procRoot() const { return m_procRoot; }
    // May be called from any thread.
    Look look(Cursor &cursor);

    // Called by the look that found processes made since, or listed them all again, on its
    // thread, until withdrawn; it must return at once. The id withdraws it.
    int addNewsListener(std::function<void()> listener);
    void removeNewsListener(int id);

private:
    // Whether some looker has news.
    bool update();
    QList<qint64> processIds(qint64 from) const;
    std::optional<qint64> newestProcessId();

    const QString m_procRoot;
    const qint64 m_relistMs = 0;
    // Open for listing, at whatever offset the last listing left it.
    const int m_rootFd = -1;
    bool m_isProcfs = false;
    int m_loadFd = -1;
    QMutex m_mutex;
    QElapsedTimer m_sinceListing;
    // The last listing after which ids may have come back.
    quint64 m_idsCameBackAt = 0;
    std::optional<qint64> m_newest;
    quint64 m_listing = 0;
    QList<qint64> m_processes;
    QList<qint64> m_found; // the processes made since the listing given to every looker
    std::map<int, std::function<void()>> m_newsListeners;
    int m_lastListener = 0;
};
