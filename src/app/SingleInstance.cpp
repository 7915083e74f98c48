#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalSocket>

#include <unistd.h>

namespace {

QString instanceName(const QString &appFolder)
{
    const QByteArray folder = QDir(appFolder).canonicalPath().toUtf8();
    return QStringLiteral("vexlor-popup-%1-%2")
        .arg(getuid())
        .arg(QString::fromLatin1(
            QCryptographicHash::hash(folder, QCryptographicHash::Sha256).toHex().left(16)));
}

} // namespace

SingleInstance::SingleInstance(const QString &appFolder, const QString &runtimeFolder,
                               QObject *parent)
    : QObject(parent), m_name(QDir(runtimeFolder).filePath(instanceName(appFolder))),
      m_lock(m_name + QStringLiteral(".lock"))
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
    if (m_lock.tryLock(0)) {
        // A program that died left its socket behind; the lock says it is gone.
        QLocalServer::removeServer(m_name);
        m_server.setSocketOptions(QLocalServer::UserAccessOption);
        m_server.listen(m_name);
        return true;
    }
    QLocalSocket peer;
    peer.connectToServer(m_name);
    if (peer.waitForConnected(2000)) {
        peer.write("show\n");
        peer.waitForBytesWritten(2000);
        peer.waitForDisconnected(2000);
    }
    return false;
}
