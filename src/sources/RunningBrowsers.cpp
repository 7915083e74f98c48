#include "sources/RunningBrowsers.h"

#include "sources/BrowserCatalogue.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <unistd.h>

namespace {

// Reads are capped, so that a process with an enormous command line costs little.
constexpr qint64 maxCommandLine = 64 * 1024;
// Chromium's renderers sit below a zygote or two; anything deeper is no browser's tree.
constexpr int maxDepth = 8;

// The parent and the start time, the second and the twentieth field from the state on.
bool readStat(const QString &folder, qint64 &parent, quint64 &startTime)
{
    const QList<QByteArray> fields = processStatFields(folder);
    bool parentOk = false;
    bool startOk = false;
    if (fields.size() < 20)
        return false;
    parent = fields[1].toLongLong(&parentOk);
    startTime = fields[19].toULongLong(&startOk);
    return parentOk && startOk;
}

} // namespace

RunningBrowsers::RunningBrowsers(QString procRoot, std::optional<uint> userId, qint64 settleMs)
    : RunningBrowsers(std::make_shared<ProcessIds>(std::move(procRoot)), userId, settleMs)
{}

RunningBrowsers::RunningBrowsers(std::shared_ptr<ProcessIds> census, std::optional<uint> userId,
                                 qint64 settleMs)
    : m_procRoot(census->procRoot()), m_userId(userId.value_or(::getuid())), m_settleMs(settleMs),
      m_census(std::move(census))
{
    m_clock.start();
}

QList<RunningBrowser> RunningBrowsers::look()
{
    const qint64 now = m_clock.elapsed();
    const ProcessIds::Look ids = m_census->look(m_cursor);
    const auto folderOf = [this](qint64 pid) {
        return m_procRoot + u'/' + QString::number(pid);
    };
    if (ids.listed) {
        QHash<qint64, Process> processes;
        processes.reserve(ids.pids.size());
        for (const qint64 pid : ids.pids) {
            Process process = m_processes.value(pid, Process{now});
            if (process.browser && ids.idsCameBack) {
                // An id may have come back, for a new process, which its start time tells.
                const quint64 started = process.startTime;
                if (!readStat(folderOf(pid), process.parent, process.startTime))
                    continue;
                if (process.startTime != started)
                    process = Process{now};
            }
            processes.insert(pid, process);
        }
        m_processes = std::move(processes);
    } else {
        // The processes are those of the last look, with the ids made since. A browser's main
        // process that ended takes its start with it; the rest are forgotten at the next
        // listing.
        bool changed = !ids.pids.isEmpty() || m_settling;
        for (const qint64 pid : ids.pids)
            m_processes.insert(pid, Process{now});
        for (const qint64 pid : std::as_const(m_mains)) {
            if (::access(QFile::encodeName(folderOf(pid)), F_OK) != 0)
                changed = m_processes.remove(pid) || changed;
        }
        if (!changed)
            return m_browsers;
    }
    QList<qint64> browserPids;
    m_settling = false;
    for (auto entry = m_processes.begin(); entry != m_processes.end(); ++entry) {
        if (!entry->browser && !entry->settled)
            inspect(folderOf(entry.key()), entry.key(), *entry, now);
        if (entry->browser)
            browserPids.append(entry.key());
        m_settling = m_settling || (!entry->browser && !entry->settled);
    }
    std::sort(browserPids.begin(), browserPids.end());

    QList<RunningBrowser> browsers;
    QHash<qint64, qsizetype> positions;
    for (const qint64 pid : std::as_const(browserPids)) {
        const qint64 main = mainOf(pid);
        if (main == 0)
            continue;
        auto slot = positions.constFind(main);
        if (slot == positions.cend()) {
            const Process process = m_processes.value(main);
            slot = positions.insert(main, browsers.size());
            browsers.append({main, process.startTime, process.browser, {main}});
        }
        if (pid != main)
            browsers[*slot].processes.append(pid);
    }
    m_mains.clear();
    for (const RunningBrowser &browser : std::as_const(browsers))
        m_mains.insert(browser.pid);
    m_browsers = browsers;
    return browsers;
}

void RunningBrowsers::inspect(const QString &folder, qint64 pid, Process &process, qint64 now) const
{
    // Most processes are ruled out by their command line alone, with one read; a browser
    // started under another name is known by its executable.
    const std::optional<QList<QByteArray>> read = processArguments(folder, maxCommandLine);
    const QList<QByteArray> arguments = read.value_or(QList<QByteArray>());
    const KnownBrowser *browser = nullptr;
    if (!arguments.isEmpty()) {
        browser = BrowserCatalogue::byImage(QFileInfo(QFile::decodeName(arguments[0])).fileName());
        if (!browser)
            browser = BrowserCatalogue::byImage(
                QFileInfo(QFileInfo(folder + u"/exe"_qs).symLinkTarget()).fileName());
    }
    if (browser && processOwner(folder, pid) == m_userId &&
        readStat(folder, process.parent, process.startTime)) {
        process.browser = browser;
        process.helper = BrowserCatalogue::isHelper(arguments);
        return;
    }
    // A wrapper script becomes the browser it starts by exec, under the same id, so a process
    // is taken for no browser only once it has been one for a while. A kernel thread, a zombie
    // and a browser's helper (of another user) have nothing left to exec; a process in the middle
    // of an exec has no command line for a moment.
    process.settled = (read && (arguments.isEmpty() ? isKernelThreadOrZombie(folder)
                                                    : BrowserCatalogue::isHelper(arguments))) ||
                      now - process.firstSeenMs >= m_settleMs;
}

// The process at the top of a browser's tree: up through the parents of the same browser. A
// helper whose main process has gone belongs to no browser start.
qint64 RunningBrowsers::mainOf(qint64 pid) const
{
    for (int depth = 0; depth < maxDepth; ++depth) {
        const Process process = m_processes.value(pid);
        const auto parent = m_processes.constFind(process.parent);
        if (parent == m_processes.cend() || parent->browser != process.browser)
            return process.helper ? 0 : pid;
        pid = process.parent;
    }
    return 0;
}
