#include "sources/ProcessIds.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <iterator>
#include <memory>
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

// The ids of the processes in a /proc-like folder, in increasing order.
QList<qint64> processIds(const QString &procRoot)
{
    QList<qint64> pids;
    // Read straight from the folder: a sorted listing stats every entry.
    const std::unique_ptr<DIR, int (*)(DIR *)> root(::opendir(QFile::encodeName(procRoot)),
                                                    &::closedir);
    if (!root)
        return pids;
    while (const dirent *entry = ::readdir(root.get())) {
        char *end = nullptr;
        const long long pid = std::strtoll(entry->d_name, &end, 10);
        if (pid > 0 && *end == '\0' && std::isdigit(static_cast<unsigned char>(entry->d_name[0])))
            pids.append(pid);
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

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

ProcessIds::ProcessIds(QString procRoot, qint64 relistMs)
    : m_procRoot(std::move(procRoot)), m_relistMs(relistMs),
      m_rootFd(::open(QFile::encodeName(m_procRoot), O_PATH | O_DIRECTORY | O_CLOEXEC))
{}

ProcessIds::~ProcessIds()
{
    if (m_rootFd >= 0)
        ::close(m_rootFd);
}

ProcessIds::Look ProcessIds::look(Cursor &cursor)
{
    const QMutexLocker lock(&m_mutex);
    update();
    if (cursor.listing != m_listing) {
        cursor = {m_listing, m_found.size()};
        return {true, m_processes};
    }
    return {false, m_found.mid(std::exchange(cursor.told, m_found.size()))};
}

void ProcessIds::update()
{
    const std::optional<qint64> newest = newestProcessId();
    const std::optional<qint64> last = std::exchange(m_newest, newest);
    const bool due = !m_sinceListing.isValid() || m_sinceListing.hasExpired(m_relistMs);
    // No process can have been made while the newest id stayed the same.
    if (!due && newest && newest == last)
        return;
    // Ids that wrapped round may name new processes that held them before: every looker is
    // given every process.
    if (due || !newest || !last || *newest < *last) {
        m_sinceListing.start();
        ++m_listing;
        m_found.clear();
        m_processes = processIds(m_procRoot);
        return;
    }
    // Looking up one id costs the kernel about what listing eight processes does: a few new
    // ids are looked up one by one, many are found by a listing.
    const qsizetype known = m_processes.size();
    if (*newest - *last > std::max<qint64>(known / 8, 16)) {
        QList<qint64> processes = processIds(m_procRoot);
        std::set_difference(processes.cbegin(), processes.cend(), m_processes.cbegin(),
                            m_processes.cend(), std::back_inserter(m_found));
        m_processes = std::move(processes);
        return;
    }
    for (qint64 id = *last + 1; id <= *newest; ++id) {
        // A process made between the reading of the newest id and a listing was listed.
        if (!std::binary_search(m_processes.cbegin(), m_processes.cbegin() + known, id) &&
            isProcess(id)) {
            m_found.append(id);
            m_processes.append(id);
        }
    }
    std::inplace_merge(m_processes.begin(), m_processes.begin() + known, m_processes.end());
}

// Whether the id names a process that runs, not a thread (whose folder opens, though no listing
// shows it). The status's first lines are Name, Umask, State and Tgid; a name is at most 64
// bytes, escaped.
bool ProcessIds::isProcess(qint64 id) const
{
    std::array<char, 32> path{};
    std::memcpy(std::to_chars(path.data(), path.data() + 20, id).ptr, "/status", 8);
    const int fd = ::openat(m_rootFd, path.data(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::array<char, 512> head{};
    const ssize_t size = ::read(fd, head.data(), head.size());
    ::close(fd);
    return size > 0 && statusField(QByteArray(head.data(), size), "Tgid") == id;
}

// The id the kernel gave the newest process or thread, from the last field of loadavg; nothing
// when it cannot be read. Ids are handed out in increasing order and come back only once they
// wrap round.
std::optional<qint64> ProcessIds::newestProcessId() const
{
    const int fd = ::openat(m_rootFd, "loadavg", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::array<char, 128> text{};
    const ssize_t size = ::read(fd, text.data(), text.size());
    ::close(fd);
    const QList<QByteArray> fields =
        QByteArray(text.data(), std::max<ssize_t>(size, 0)).simplified().split(' ');
    bool ok = false;
    const qint64 pid = fields.size() == 5 ? fields[4].toLongLong(&ok) : 0;
    return ok && pid > 0 ? std::optional(pid) : std::nullopt;
}
