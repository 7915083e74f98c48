#include "sources/tabs/ProcessDiscovery.h"

#include "sources/BrowserCatalogue.h"
#include "sources/ProcessIds.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <QSet>

#include <algorithm>
#include <unistd.h>

namespace {

// Every read is capped, so a process with an enormous command line or a port file that is
// not what it should be costs little.
constexpr qint64 maxCommandLine = 256 * 1024;
constexpr qint64 maxPortFile = 64 * 1024;
constexpr int maxOpenFiles = 4096;
// /proc/net/tcp and tcp6 give a line of about 150 bytes per socket.
constexpr qint64 maxSocketTable = 8 * 1024 * 1024;

QByteArray readCapped(const QString &path, qint64 cap)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(cap);
}

std::optional<quint16> portFrom(QByteArrayView text)
{
    bool ok = false;
    const uint value = text.trimmed().toUInt(&ok);
    if (!ok || value > 65535)
        return std::nullopt;
    return static_cast<quint16>(value);
}

std::optional<DebugEndpoint::Kind> kindOfExecutable(const QString &path)
{
    const KnownBrowser *browser = BrowserCatalogue::byImage(QFileInfo(path).fileName());
    if (browser && browser->family == KnownBrowser::Family::Chromium)
        return DebugEndpoint::Kind::Chromium;
    if (browser && browser->family == KnownBrowser::Family::Firefox)
        return DebugEndpoint::Kind::Firefox;
    return std::nullopt;
}

// Chromium's switches: "--name=value" or "-name=value", up to a lone "--".
struct Switch
{
    QByteArray name;
    std::optional<QByteArray> value;
};

std::optional<Switch> chromiumSwitch(const QByteArray &argument)
{
    if (!argument.startsWith('-') || argument == "-")
        return std::nullopt;
    const QByteArray body = argument.mid(argument.startsWith("--") ? 2 : 1);
    const qsizetype equals = body.indexOf('=');
    if (equals < 0)
        return Switch{body, std::nullopt};
    return Switch{body.left(equals), body.mid(equals + 1)};
}

// Firefox's flags: "-name" or "--name", with a value in "--name=value" or in the next argument.
std::optional<QByteArray> firefoxFlag(const QByteArray &argument, QByteArray *inlineValue)
{
    if (!argument.startsWith('-') || argument.size() < 2)
        return std::nullopt;
    QByteArray body = argument.mid(argument.startsWith("--") ? 2 : 1);
    const qsizetype equals = body.indexOf('=');
    if (equals >= 0) {
        *inlineValue = body.mid(equals + 1);
        body.truncate(equals);
    }
    return body;
}

// A relative folder on a command line is relative to the process's working folder.
QString resolvedFolder(const QString &processFolder, const QByteArray &folder)
{
    const QString path = QFile::decodeName(folder);
    if (QDir::isAbsolutePath(path))
        return path;
    const QString cwd = QFileInfo(processFolder + u"/cwd"_qs).symLinkTarget();
    return cwd.isEmpty() ? QString() : QDir(cwd).filePath(path);
}

} // namespace

ProcessDiscovery::ProcessDiscovery(QString procRoot, std::optional<uint> userId, qint64 settleMs)
    : ProcessDiscovery(std::make_shared<ProcessIds>(std::move(procRoot)), userId, settleMs)
{}

ProcessDiscovery::ProcessDiscovery(std::shared_ptr<ProcessIds> census, std::optional<uint> userId,
                                   qint64 settleMs)
    : m_procRoot(census->procRoot()), m_userId(userId.value_or(::getuid())), m_settleMs(settleMs),
      m_census(std::move(census))
{
    m_clock.start();
}

QList<DebugEndpoint> ProcessDiscovery::find(DebugEndpoint::Kind kind)
{
    QList<DebugEndpoint> endpoints;
    const int kindKey = static_cast<int>(kind);
    const ProcessIds::Look ids = m_census->look(m_cursors[kindKey]);
    // Without a listing, the processes still to be watched are those of the last look, and the
    // ids made since.
    QList<qint64> pids = ids.pids;
    if (!ids.listed) {
        for (auto seen = m_seen.cbegin(); seen != m_seen.cend(); ++seen) {
            if (seen.key().second == kindKey && !seen->settled)
                pids.append(seen.key().first);
        }
        std::sort(pids.begin(), pids.end());
    }

    // In the order of the ids, so that of two claims on one port the older process's wins.
    const qint64 now = m_clock.elapsed();
    QSet<SeenKey> listed;
    for (const qint64 pid : std::as_const(pids)) {
        const SeenKey key{pid, kindKey};
        listed.insert(key);
        auto seen = m_seen.find(key);
        if (seen == m_seen.end())
            seen = m_seen.insert(key, Seen{now, false});
        if (seen->settled)
            continue;
        const QString folder = m_procRoot + u'/' + QString::number(pid);
        RuledOut ruledOut = RuledOut::No;
        std::optional<DebugEndpoint> endpoint = inspect(folder, pid, kind, ruledOut);
        // Another account may have bound the browser's port first, to be talked to in its
        // place: the port counts only while the browser itself holds it.
        if (endpoint && !holdsPort(folder, endpoint->port))
            endpoint.reset();
        // A wrapper script becomes the browser it starts by exec, under the same id, so a
        // process is taken for no browser only once it has been one for a while.
        if (ruledOut == RuledOut::ForGood ||
            (ruledOut == RuledOut::ForNow && now - seen->firstSeenMs >= m_settleMs))
            seen->settled = true;
        // Two processes cannot listen on one port; a second claim comes from a stale file.
        if (endpoint && std::none_of(endpoints.cbegin(), endpoints.cend(),
                                     [&](const auto &e) { return e.port == endpoint->port; }))
            endpoints.append(*endpoint);
    }
    // A process id that comes back belongs to a new process.
    if (ids.listed)
        m_seen.removeIf([&](const auto &entry) {
            return entry.key().second == kindKey && !listed.contains(entry.key());
        });
    return endpoints;
}

bool ProcessDiscovery::settling(DebugEndpoint::Kind kind) const
{
    const int kindKey = static_cast<int>(kind);
    return std::any_of(m_seen.keyValueBegin(), m_seen.keyValueEnd(), [&](const auto &entry) {
        return entry.first.second == kindKey && !entry.second.settled;
    });
}

std::optional<DebugEndpoint> ProcessDiscovery::inspect(const QString &processFolder, qint64 pid,
                                                       DebugEndpoint::Kind kind,
                                                       RuledOut &ruledOut) const
{
    // Most processes are ruled out by their command line alone, with one read. Kernel threads and
    // zombies have none, and nothing left to exec; nor has a browser's helper. Chromium's helpers
    // write theirs anew as one string, the words joined by blanks. A process in the middle of an
    // exec has none for a moment either.
    const std::optional<QList<QByteArray>> read = processArguments(processFolder, maxCommandLine);
    const QList<QByteArray> arguments = read.value_or(QList<QByteArray>());
    const bool rewrittenHelper = arguments.size() == 1 && arguments[0].contains(" --type=");
    if (read && (arguments.isEmpty() ? isKernelThreadOrZombie(processFolder)
                                     : BrowserCatalogue::isHelper(arguments) || rewrittenHelper)) {
        ruledOut = RuledOut::ForGood;
        return std::nullopt;
    }
    if (std::none_of(arguments.cbegin(), arguments.cend(), [](const QByteArray &argument) {
            return argument.contains("remote-debugging-port");
        })) {
        ruledOut = RuledOut::ForNow;
        return std::nullopt;
    }

    std::optional<DebugEndpoint::Kind> found =
        kindOfExecutable(QFile::decodeName(arguments.first()));
    if (!found) {
        const QString image = QFileInfo(processFolder + u"/exe"_qs).symLinkTarget();
        if (!image.isEmpty())
            found = kindOfExecutable(image);
    }
    if (found != kind) {
        ruledOut = RuledOut::ForNow;
        return std::nullopt;
    }

    if (processOwner(processFolder, pid) != m_userId) {
        ruledOut = RuledOut::ForNow;
        return std::nullopt;
    }

    std::optional<DebugEndpoint> endpoint =
        kind == DebugEndpoint::Kind::Chromium ? chromiumEndpoint(processFolder, arguments, ruledOut)
                                              : firefoxEndpoint(processFolder, arguments, ruledOut);
    if (endpoint) {
        endpoint->kind = kind;
        endpoint->pid = pid;
    }
    return endpoint;
}

std::optional<DebugEndpoint> ProcessDiscovery::chromiumEndpoint(const QString &processFolder,
                                                                const QList<QByteArray> &arguments,
                                                                RuledOut &ruledOut) const
{
    std::optional<quint16> port;
    QByteArray userDataDir;
    for (qsizetype i = 1; i < arguments.size() && arguments[i] != "--"; ++i) {
        const std::optional<Switch> option = chromiumSwitch(arguments[i]);
        if (!option)
            continue;
        if (option->name == "type") {
            ruledOut = RuledOut::ForGood;
            return std::nullopt;
        }
        if (option->name == "remote-debugging-port")
            port = portFrom(option->value.value_or(QByteArray()));
        else if (option->name == "user-data-dir" && option->value)
            userDataDir = *option->value;
    }
    if (!port) {
        ruledOut = RuledOut::ForNow;
        return std::nullopt;
    }
    if (*port != 0)
        return DebugEndpoint{DebugEndpoint::Kind::Chromium, 0, *port, {}};

    // Port 0: the browser writes the port it got, then its own target's path, to a file in
    // its user-data-dir. Without that folder on the command line the file cannot be found.
    if (userDataDir.isEmpty())
        return std::nullopt;
    const QString folder = resolvedFolder(processFolder, userDataDir);
    if (folder.isEmpty())
        return std::nullopt;
    const QList<QByteArray> lines =
        readCapped(QDir(folder).filePath(u"DevToolsActivePort"_qs), maxPortFile).split('\n');
    const std::optional<quint16> active = portFrom(lines.first());
    if (!active || *active == 0)
        return std::nullopt;
    return DebugEndpoint{DebugEndpoint::Kind::Chromium, 0, *active,
                         lines.size() > 1 ? lines[1].trimmed() : QByteArray()};
}

std::optional<DebugEndpoint> ProcessDiscovery::firefoxEndpoint(const QString &processFolder,
                                                               const QList<QByteArray> &arguments,
                                                               RuledOut &ruledOut) const
{
    std::optional<quint16> port;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QByteArray value;
        const std::optional<QByteArray> flag = firefoxFlag(arguments[i], &value);
        if (!flag)
            continue;
        if (flag == "contentproc") {
            ruledOut = RuledOut::ForGood;
            return std::nullopt;
        }
        if (flag != "remote-debugging-port")
            continue;
        // The port is optional, so the next argument counts only when it is a number.
        if (value.isEmpty() && i + 1 < arguments.size() && portFrom(arguments[i + 1]))
            value = arguments[++i];
        port = value.isEmpty() ? std::optional<quint16>(firefoxDefaultPort) : portFrom(value);
    }
    if (!port) {
        ruledOut = RuledOut::ForNow;
        return std::nullopt;
    }
    if (*port != 0)
        return DebugEndpoint{DebugEndpoint::Kind::Firefox, 0, *port, {}};

    const QString profile = firefoxProfile(processFolder, arguments);
    if (profile.isEmpty())
        return std::nullopt;
    const QJsonObject server =
        QJsonDocument::fromJson(
            readCapped(QDir(profile).filePath(u"WebDriverBiDiServer.json"_qs), maxPortFile))
            .object();
    const double wsPort = server.value(u"ws_port").toDouble(-1);
    if (wsPort < 1 || wsPort > 65535 || wsPort != static_cast<quint16>(wsPort))
        return std::nullopt;
    return DebugEndpoint{DebugEndpoint::Kind::Firefox, 0, static_cast<quint16>(wsPort), {}};
}

// The profile named on the command line or, when it was chosen some other way, the folder of
// the lock file that a running Firefox keeps open in its profile.
QString ProcessDiscovery::firefoxProfile(const QString &processFolder,
                                         const QList<QByteArray> &arguments) const
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QByteArray value;
        if (firefoxFlag(arguments[i], &value) != "profile")
            continue;
        if (value.isEmpty() && i + 1 < arguments.size())
            value = arguments[i + 1];
        return value.isEmpty() ? QString() : resolvedFolder(processFolder, value);
    }
    const QDir descriptors(processFolder + u"/fd"_qs);
    // Descriptors of sockets and pipes are links to nothing, which only QDir::System lists.
    const QStringList links =
        descriptors.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    int looked = 0;
    for (const QString &name : links) {
        if (++looked > maxOpenFiles)
            break;
        const QString target = QFileInfo(descriptors.filePath(name)).symLinkTarget();
        if (target.endsWith(u"/.parentlock"_qs))
            return QFileInfo(target).path();
    }
    return {};
}

// Whether the process holds every socket that takes connections to 127.0.0.1 on the port, and
// there is one: the address listened on is 127.0.0.1 or any address, in either table.
bool ProcessDiscovery::holdsPort(const QString &processFolder, quint16 port) const
{
    static const QList<QByteArray> loopbackOrAny = {"0100007F", "00000000",
                                                    "00000000000000000000000000000000",
                                                    "0000000000000000FFFF00000100007F"};
    QSet<QByteArray> listening;
    for (const QString &table : {u"/net/tcp"_qs, u"/net/tcp6"_qs}) {
        const QList<QByteArray> lines = readCapped(m_procRoot + table, maxSocketTable).split('\n');
        // Columns: number, local address:port, remote address:port, state (0A listens), the
        // queues, timers, retransmissions, uid, timeout, inode.
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QList<QByteArray> fields = lines[i].simplified().split(' ');
            if (fields.size() < 10 || fields[3] != "0A")
                continue;
            const QList<QByteArray> local = fields[1].split(':');
            bool ok = false;
            if (local.size() == 2 && local[1].toUInt(&ok, 16) == port && ok &&
                loopbackOrAny.contains(local[0].toUpper()))
                listening.insert(fields[9]);
        }
    }
    if (listening.isEmpty())
        return false;
    const QDir descriptors(processFolder + u"/fd"_qs);
    const QStringList links =
        descriptors.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    QSet<QByteArray> held;
    for (qsizetype i = 0; i < links.size() && i < maxOpenFiles; ++i) {
        const QByteArray target = QFile::encodeName(
            QFile::symLinkTarget(descriptors.filePath(links[i])).section(u'/', -1));
        if (target.startsWith("socket:[") && target.endsWith(']'))
            held.insert(target.mid(8, target.size() - 9));
    }
    return held.contains(listening);
}
