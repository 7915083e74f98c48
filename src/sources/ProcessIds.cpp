#include "sources/ProcessIds.h"

#include <QFile>

#include <linux/magic.h>
#include <sys/statfs.h>
#include <sys/syscall.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Every read is capped, so that whatever a process shows costs little.
constexpr qint64 maxStatus = 16 * 1024;

// The first number after a "\n<name>:" line's name.
std::optional<qint64> statusField(const QByteArray &status, QByteArrayView name)
{
    const qsizetype line = status.indexOf("\n" + name.toByteArray() + ':');
    if (line < 0)
        return std::nullopt;
    const qsizetype start = line + name.size() + 2;
    const qsizetype end = status.indexOf('\n', start);
    bool ok = false;
    const qint64 value = status.mid(start, end < 0 ? -1 : end - start)
                             .simplified()
                             .split(' ')
                             .first()
                             .toLongLong(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

// procfs lists processes in the order of their ids, and a listing that starts at the offset of
// an id lists from that id on; each listed process costs the kernel a lookup. Offsets below the
// first process name /proc's other entries.
constexpr off_t firstProcessOffset = 256;

} // namespace

std::optional<uint> processOwner(const QString &folder, qint64 pid)
{
    QFile file(folder + u"/status"_qs);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray status = file.read(maxStatus);
    // "Uid:" is followed by the real, effective, saved and file-system user ids.
    const std::optional<qint64> uid = statusField(status, "Uid");
    if (statusField(status, "Tgid") != pid || !uid || *uid < 0 || *uid > UINT_MAX)
        return std::nullopt;
    return static_cast<uint>(*uid);
}

std::optional<QList<QByteArray>> processArguments(const QString &folder, qint64 cap)
{
    QFile file(folder + u"/cmdline"_qs);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray commandLine = file.read(cap);
    if (commandLine.isEmpty())
        return QList<QByteArray>();
    QList<QByteArray> arguments = commandLine.split('\0');
    if (arguments.last().isEmpty())
        arguments.removeLast();
    return arguments;
}

QList<QByteArray> processStatFields(const QString &folder)
{
    QFile file(folder + u"/stat"_qs);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray stat = file.read(maxStatus);
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return {};
    return stat.mid(close + 1).simplified().split(' ');
}

// The state, then "ppid pgrp session tty tpgid flags".
bool isKernelThreadOrZombie(const QString &folder)
{
    constexpr qulonglong kernelThreadFlag = 0x00200000;
    const QList<QByteArray> fields = processStatFields(folder);
    bool ok = false;
    const qulonglong flags = fields.value(6).toULongLong(&ok);
    return ok && ((flags & kernelThreadFlag) != 0 || fields[0] == "Z" || fields[0] == "X");
}

ProcessIds::ProcessIds(QString procRoot, qint64 relistMs)
    : m_procRoot(std::move(procRoot)), m_relistMs(relistMs),
      m_rootFd(::open(QFile::encodeName(m_procRoot), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
{
    struct statfs fileSystem = {};
    m_isProcfs = m_rootFd >= 0 && ::fstatfs(m_rootFd, &fileSystem) == 0 &&
                 fileSystem.f_type == PROC_SUPER_MAGIC;
}

ProcessIds::~ProcessIds()
{
    for (const int fd : {m_rootFd, m_loadFd}) {
        if (fd >= 0)
            ::close(fd);
    }
}

ProcessIds::Look ProcessIds::look(Cursor &cursor)
{
    const QMutexLocker lock(&m_mutex);
    if (update()) {
        for (const auto &[id, listener] : m_newsListeners)
            listener();
    }
    if (cursor.listing != m_listing) {
        const bool cameBack = m_idsCameBackAt > cursor.listing;
        cursor = {m_listing, m_found.size()};
        return {true, m_processes, cameBack};
    }
    return {false, m_found.mid(std::exchange(cursor.told, m_found.size())), false};
}

int ProcessIds::addNewsListener(std::function<void()> listener)
{
    const QMutexLocker lock(&m_mutex);
    m_newsListeners.emplace(++m_lastListener, std::move(listener));
    return m_lastListener;
}

// Under the lock: once withdrawn, a listener is not being called either.
void ProcessIds::removeNewsListener(int id)
{
    const QMutexLocker lock(&m_mutex);
    m_newsListeners.erase(id);
}

bool ProcessIds::update()
{
    const std::optional<qint64> newest = newestProcessId();
    const std::optional<qint64> last = std::exchange(m_newest, newest);
    const bool due = !m_sinceListing.isValid() || m_sinceListing.hasExpired(m_relistMs);
    // No process can have been made while the newest id stayed the same.
    if (!due && newest && newest == last)
        return false;
    // Ids that wrapped round may name new processes that held them before: every looker is
    // given every process.
    if (due || !newest || !last || *newest < *last) {
        m_sinceListing.start();
        ++m_listing;
        if (!newest || !last || *newest < *last)
            m_idsCameBackAt = m_listing;
        m_found.clear();
        m_processes = processIds(0);
        return true;
    }
    // Until ids wrap, a process made since the last look has a greater id than any made before
    // it. The threads that browsers make and end all the time are not listed.
    const qsizetype known = m_processes.size();
    const qsizetype found = m_found.size();
    for (const qint64 id : processIds(*last + 1)) {
        // A process made between the reading of the newest id and the last listing was listed.
        if (!std::binary_search(m_processes.cbegin(), m_processes.cbegin() + known, id)) {
            m_found.append(id);
            m_processes.append(id);
        }
    }
    std::inplace_merge(m_processes.begin(), m_processes.begin() + known, m_processes.end());
    return m_found.size() > found;
}

// The ids of the processes from the given one on, in increasing order. Only procfs is listed
// from that id on; another folder, such as a test's, is listed whole.
QList<qint64> ProcessIds::processIds(qint64 from) const
{
    QList<qint64> pids;
    // Two offsets early, so that no id is missed whatever /proc lists before its processes.
    const off_t start = m_isProcfs ? firstProcessOffset + std::max<off_t>(from, 0) : 0;
    if (m_rootFd < 0 || ::lseek(m_rootFd, start, SEEK_SET) < 0)
        return pids;
    alignas(8) std::array<char, 8192> buffer{};
    for (;;) {
        const long size = ::syscall(SYS_getdents64, m_rootFd, buffer.data(), buffer.size());
        if (size <= 0)
            break;
        for (long at = 0; at < size;) {
            const auto *entry = reinterpret_cast<const dirent64 *>(buffer.data() + at);
            at += entry->d_reclen;
            const char *name = entry->d_name;
            const char *end = name + std::strlen(name);
            qint64 pid = 0;
            const auto [parsed, error] = std::from_chars(name, end, pid);
            if (error == std::errc() && parsed == end && pid > 0 && pid >= from)
                pids.append(pid);
        }
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

// The id the kernel gave the newest process or thread, from the last field of loadavg; nothing
// when it cannot be read. Ids are handed out in increasing order and come back only once they
// wrap round.
std::optional<qint64> ProcessIds::newestProcessId()
{
    if (m_loadFd < 0)
        m_loadFd = ::openat(m_rootFd, "loadavg", O_RDONLY | O_CLOEXEC);
    std::array<char, 128> text{};
    // The kernel writes the file anew for each read from its start.
    const ssize_t size = ::pread(m_loadFd, text.data(), text.size(), 0);
    const QList<QByteArray> fields =
        QByteArray(text.data(), std::max<ssize_t>(size, 0)).simplified().split(' ');
    bool ok = false;
    const qint64 pid = fields.size() == 5 ? fields[4].toLongLong(&ok) : 0;
    return ok && pid > 0 ? std::optional(pid) : std::nullopt;
}
