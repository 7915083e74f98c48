#include "support/BridgePeer.h"

#include "bridge/BridgeMessages.h"

#include <QJsonDocument>

BridgePeer::BridgePeer(const QString &socketPath) : BridgePeer(new QLocalSocket)
{
    m_socket->connectToServer(socketPath);
    m_socket->waitForConnected(5000);
}

BridgePeer::BridgePeer(QLocalSocket *accepted, QObject *parent)
    : QObject(parent), m_socket(accepted)
{
    m_socket->setParent(this);
    const auto read = [this] {
        m_reader.append(m_socket->isOpen() ? m_socket->readAll() : QByteArray());
        while (const auto frame = m_reader.next())
            m_received.append(frame->payload);
    };
    connect(m_socket, &QLocalSocket::readyRead, this, read);
    read();
}

void BridgePeer::send(const QByteArray &payload)
{
    m_socket->write(frameOf(payload));
    m_socket->flush();
}

void BridgePeer::sendHello(qint64 browserPid, const QString &browser)
{
    send(BridgeMessages::hello(browserPid, browser));
}

QJsonObject BridgePeer::tab(qint64 id, const QString &title, const QString &url)
{
    return {{u"id"_qs, id}, {u"windowId"_qs, 1}, {u"title"_qs, title}, {u"url"_qs, url}};
}

QByteArray BridgePeer::tabsMessage(const QJsonArray &tabs)
{
    return QJsonDocument(QJsonObject{{u"tabs"_qs, tabs}}).toJson(QJsonDocument::Compact);
}

BridgeListener::BridgeListener(const QString &socketPath)
{
    connect(this, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *socket = nextPendingConnection())
            peers.append(new BridgePeer(socket, this));
    });
    removeServer(socketPath);
    listen(socketPath);
}
