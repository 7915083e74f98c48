#include "sources/ProcessIds.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
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

// The id the kernel gave the newest process or thread, from the last field of loadavg; nothing
// when it cannot be read. Ids are handed out in increasing order and come back only once they
// wrap round.
std::optional<qint64> newestProcessId(const QString &procRoot)
{
    QFile file(procRoot + u"/loadavg"_qs);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QList<QByteArray> fields = file.read(4096).simplified().split(' ');
    bool ok = false;
    const qint64 pid = fields.size() == 5 ? fields[4].toLongLong(&ok) : 0;
    return ok && pid > 0 ? std::optional(pid) : std::nullopt;
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

ProcessIds::Look ProcessIds::look()
{
    const std::optional<qint64> newest = newestProcessId(m_procRoot);
    const std::optional<qint64> last = std::exchange(m_newest, newest);
    // /proc is listed when ids wrapped round (an id below the last newest may be a new
    // process's) and when looking up each id made since would cost more than a listing: a lookup
    // costs about what listing one process does.
    const qint64 maxLookedUp = std::max<qint64>(m_listedCount / 2, 16);
    if (m_rootFd < 0 || !newest || !last || *newest < *last || *newest - *last > maxLookedUp ||
        !m_sinceListing.isValid() || m_sinceListing.hasExpired(m_relistMs)) {
        m_sinceListing.start();
        Look look{true, processIds(m_procRoot)};
        m_listedCount = look.pids.size();
        return look;
    }
    Look look{false, {}};
    // Relative to the folder kept open, a lookup costs the kernel one name, not a whole path.
    std::array<char, 24> name{};
    for (qint64 pid = *last + 1; pid <= *newest; ++pid) {
        *std::to_chars(name.data(), name.data() + name.size() - 1, pid).ptr = '\0';
        if (::faccessat(m_rootFd, name.data(), F_OK, 0) == 0)
            look.pids.append(pid);
    }
    return look;
}
