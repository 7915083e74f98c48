#include "sources/bridge/BridgeSource.h"

#include "bridge/BridgeMessages.h"
#include "bridge/PeerCredentials.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QLocalSocket>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The parent of a process, from the PPid line of its status; 0 when it cannot be read.
qint64 parentOf(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    // Files of /proc tell no size: read what the line's place needs, not until the end.
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.read(4096).split('\n')) {
        if (line.startsWith("PPid:"))
            return line.mid(5).trimmed().toLongLong();
    }
    return 0;
}

} // namespace

BridgeSource::BridgeSource(const QString &socketPath) : m_socketPath(socketPath)
{
    if (!listen())
        return;
    QObject::connect(&m_server, &QLocalServer::newConnection, &m_server, [this] { accept(); });
    m_keepsListening = true;
    QObject::connect(&m_folderWatch, &QFileSystemWatcher::directoryChanged, &m_server,
                     [this] { m_folderChanged = true; });
}

BridgeSource::~BridgeSource()
{
    // The sockets would otherwise report their end to a source that is half gone.
    for (const auto &connection : m_connections) {
        QObject::disconnect(connection->socket, nullptr, &m_server, nullptr);
        delete connection->socket;
    }
    m_connections.clear();
    m_server.close();
}

void BridgeSource::report(const QString &line)
{
    // A failure that lasts is said once, not at every attempt.
    if (line != m_lastReport)
        qWarning("Vexlor Popup : %s", qUtf8Printable(line));
    m_lastReport = line;
}

bool BridgeSource::listen()
{
    QString why;
    if (!prepareBridgeSocketFolder(m_socketPath, &why)) {
        report(QStringLiteral("extension des navigateurs indisponible : %1").arg(why));
        return false;
    }
    // Only a socket nobody answers on is left from a program that died; a live one belongs to
    // another program, whose hosts are not to be taken over.
    QLocalSocket probe;
    probe.connectToServer(m_socketPath);
    if (probe.waitForConnected(1000)) {
        report(QStringLiteral("extension des navigateurs indisponible : %1 est déjà utilisé par "
                              "un autre programme")
                   .arg(m_socketPath));
        return false;
    }
    QLocalServer::removeServer(m_socketPath);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server.listen(m_socketPath)) {
        report(QStringLiteral("extension des navigateurs indisponible : %1 (%2)")
                   .arg(m_socketPath, m_server.errorString()));
        return false;
    }
    struct stat info = {};
    m_socketInode = ::lstat(QFile::encodeName(m_socketPath).constData(), &info) == 0
                        ? static_cast<quint64>(info.st_ino)
                        : 0;
    m_lastReport.clear();
    const QString folder = QFileInfo(m_socketPath).path();
    m_folderChanged =
        !m_folderWatch.directories().contains(folder) && !m_folderWatch.addPath(folder);
    return true;
}

bool BridgeSource::socketIsOurs() const
{
    struct stat info = {};
    return ::lstat(QFile::encodeName(m_socketPath).constData(), &info) == 0 &&
           S_ISSOCK(info.st_mode) && static_cast<quint64>(info.st_ino) == m_socketInode;
}

void BridgeSource::keepListening()
{
    // Qt's server closes for good, removing its socket, when it cannot take a connection (no
    // descriptor left); one whose socket file was removed listens where no host can reach it.
    if (m_server.isListening() && (!std::exchange(m_folderChanged, false) || socketIsOurs()))
        return;
    m_server.close();
    listen();
}

void BridgeSource::accept()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        const auto peer = peerCredentials(*socket);
        if (!peer || peer->uid != ::getuid() ||
            m_connections.size() >= static_cast<size_t>(maxConnections)) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        auto connection = std::make_unique<Connection>();
        connection->serial = freeSerial();
        connection->socket = socket;
        // The host is the peer the kernel names, and its browser the process that started it:
        // whatever a peer says of itself, it can only cover its own parent.
        connection->browserPid = parentOf(peer->pid);
        Connection *own = connection.get();
        m_connections.push_back(std::move(connection));
        QObject::connect(socket, &QLocalSocket::readyRead, &m_server, [this, own] { read(*own); });
        QObject::connect(socket, &QLocalSocket::disconnected, &m_server,
                         [this, socket] { forget(socket); });
        // Bytes may have come before the connection was taken.
        read(*own);
    }
}

void BridgeSource::read(Connection &connection)
{
    connection.reader.append(connection.socket->readAll());
    while (const auto frame = connection.reader.next()) {
        const auto message = frame->oversize ? std::nullopt : BridgeMessages::parse(frame->payload);
        if (message && message->value(u"hello").isObject()) {
            // The browser counts as covered from now on, before its first list comes.
            apply(connection, {}, {}, true);
        } else if (message && BridgeMessages::isTabs(*message)) {
            apply(connection, message->value(u"tabs").toArray(), {}, true);
        } else if (message && BridgeMessages::isChanges(*message)) {
            if (!connection.lost)
                apply(connection, message->value(u"changed").toArray(),
                      message->value(u"removed").toArray(), false);
        } else {
            // A refusal, or a message that may have been a list or a change: what the browser
            // sent before no longer stands for its tabs, whose windows are scanned by title
            // again until its next whole list.
            connection.tabs.clear();
            connection.shownTitles.clear();
            connection.lost = true;
            m_snapshot.drop(connection.serial);
        }
    }
}

// A whole list replaces the connection's tabs; changes apply on top of them. Either way the
// tabs that opened or changed their title or address are reported, once the walk lists them.
void BridgeSource::apply(Connection &connection, const QJsonArray &records,
                         const QJsonArray &closed, bool whole)
{
    QHash<qint64, Tab> previous;
    if (whole) {
        previous = std::exchange(connection.tabs, {});
        connection.shownTitles.clear();
        connection.lost = false;
    }
    const QHash<qint64, Tab> &before = whole ? previous : connection.tabs;
    QList<BrowserPage> changed;
    for (const QJsonValue &value : records) {
        const QJsonObject record = value.toObject();
        const auto id = BridgeMessages::integerOf(record.value(u"id"));
        if (!id || (!connection.tabs.contains(*id) && connection.tabs.size() >= kMaxRows))
            continue;
        Tab tab;
        if (const QJsonValue title = record.value(u"title"); title.isString())
            tab.title = TabSnapshot::clip(title.toString());
        if (const QJsonValue url = record.value(u"url"); url.isString())
            tab.address = TabSnapshot::clip(url.toString());
        // An extension that does not say which tabs windows show shows them all.
        tab.shown = record.value(u"active").toBool(true);
        const auto old = before.constFind(*id);
        if (old == before.cend() || old->title != tab.title || old->address != tab.address)
            changed.append(BrowserPage{tab.title, tab.address, {0, QByteArray::number(*id)}});
        setTab(connection, *id, &tab);
    }
    QList<QByteArray> closedIds;
    if (whole) {
        for (auto tab = previous.cbegin(); tab != previous.cend(); ++tab) {
            if (!connection.tabs.contains(tab.key()))
                closedIds.append(QByteArray::number(tab.key()));
        }
    }
    for (const QJsonValue &value : closed) {
        const auto id = BridgeMessages::integerOf(value);
        if (id && connection.tabs.contains(*id)) {
            setTab(connection, *id, nullptr);
            closedIds.append(QByteArray::number(*id));
        }
    }
    reportPages(
        m_snapshot.update(connection.serial, connection.browserPid, std::move(changed), closedIds));
}

void BridgeSource::setTab(Connection &connection, qint64 id, const Tab *tab)
{
    const auto count = [&connection](const Tab &counted, int step) {
        if (!counted.shown || !counted.title)
            return;
        int &shown = connection.shownTitles[*counted.title];
        if ((shown += step) <= 0)
            connection.shownTitles.remove(*counted.title);
    };
    if (const auto old = connection.tabs.constFind(id); old != connection.tabs.cend()) {
        count(*old, -1);
        connection.tabs.erase(old);
    }
    if (tab) {
        count(*tab, 1);
        connection.tabs.insert(id, *tab);
    }
}

void BridgeSource::forget(QLocalSocket *socket)
{
    const auto gone = std::find_if(m_connections.begin(), m_connections.end(),
                                   [socket](const auto &c) { return c->socket == socket; });
    if (gone == m_connections.end())
        return;
    m_snapshot.drop((*gone)->serial);
    m_connections.erase(gone);
    socket->deleteLater();
}

quint16 BridgeSource::freeSerial()
{
    // Serials wrap after 65535 connections; one still in use is passed over, and so is 0,
    // which no handle id carries.
    for (;;) {
        ++m_lastSerial;
        const quint16 serial = m_lastSerial;
        const bool used = std::any_of(m_connections.cbegin(), m_connections.cend(),
                                      [serial](const auto &c) { return c->serial == serial; });
        if (serial != 0 && !used)
            return serial;
    }
}

bool BridgeSource::accountsFor(qint64 pid, const QString &pageName) const
{
    // A title the extension clipped equals no window's: such a window is scanned by its title,
    // which X11 gives whole, so that no keyword hides beyond the clip.
    return pid > 0 && std::any_of(m_connections.cbegin(), m_connections.cend(), [&](const auto &c) {
               return c->browserPid == pid && c->shownTitles.contains(pageName);
           });
}

QList<BrowserPage> BridgeSource::walk()
{
    // Checked at each walk rather than on a timer of its own, which would wake the program.
    if (m_keepsListening)
        keepListening();
    return m_snapshot.pages();
}

void BridgeSource::requestClose(const WindowHandle &handle)
{
    const auto parts = TabSnapshot::splitHandleId(handle.id);
    if (!parts)
        return;
    bool isNumber = false;
    const qint64 tabId = parts->second.toLongLong(&isNumber);
    const auto connection = std::find_if(m_connections.cbegin(), m_connections.cend(),
                                         [&](const auto &c) { return c->serial == parts->first; });
    if (!isNumber || connection == m_connections.cend())
        return;
    m_snapshot.hide(handle.id);
    (*connection)->socket->write(frameOf(BridgeMessages::close(tabId)));
}
