#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>

#include <unistd.h>

namespace {

QString socketName(const QString &appFolder)
{
    const QByteArray folder = QDir(appFolder).canonicalPath().toUtf8();
    return QStringLiteral("instance-") +
           QString::fromLatin1(
               QCryptographicHash::hash(folder, QCryptographicHash::Sha256).toHex().left(16));
}

void report(const QString &line)
{
    qWarning("Vexlor Popup : %s", qUtf8Printable(line));
}

} // namespace

SingleInstance::SingleInstance(const QString &appFolder, const QString &socketFolder,
                               QObject *parent)
    : QObject(parent), m_socket(QDir(socketFolder).filePath(socketName(appFolder))),
      m_lock(QDir(appFolder).filePath(QStringLiteral(".vexlor-popup-%1.lock").arg(::getuid())))
{
    m_lock.setStaleLockTime(0);
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *peer = m_server.nextPendingConnection()) {
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                if (peer->readAll().contains("show"))
                    emit showRequested();
                peer->disconnectFromServer();
            });
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        }
    });
}

bool SingleInstance::claim()
{
    if (!m_lock.tryLock(0)) {
        // A folder where no lock can be made holds no file of this program either.
        if (m_lock.error() != QLockFile::LockFailedError)
            return true;
        QLocalSocket peer;
        peer.connectToServer(m_socket);
        if (peer.waitForConnected(2000)) {
            peer.write("show\n");
            peer.waitForBytesWritten(2000);
            peer.waitForDisconnected(2000);
        }
        return false;
    }
    QString why;
    if (!prepareBridgeSocketFolder(m_socket, &why)) {
        report(
            QStringLiteral("une seconde ouverture ne pourra pas montrer la fenêtre : %1").arg(why));
        return true;
    }
    // A program that died left its socket behind; the lock says it is gone.
    QLocalServer::removeServer(m_socket);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    m_server.listen(m_socket);
    return true;
}
