#pragma once

#include "bridge/BridgeMessages.h"
#include "bridge/Framing.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalServer>
#include <QLocalSocket>

// One end of the bridge's socket as a test drives it: it sends framed messages and keeps every
// frame it receives. Stands for the host in front of the program's source, or, made from a
// connection a BridgeListener took, for the program in front of a host.
class BridgePeer : public QObject
{
public:
    // Connects, waiting until the connection is made or has failed.
    explicit BridgePeer(const QString &socketPath) : BridgePeer(new QLocalSocket)
    {
        m_socket->connectToServer(socketPath);
        m_socket->waitForConnected(5000);
    }
    explicit BridgePeer(QLocalSocket *accepted, QObject *parent = nullptr)
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

    bool isConnected() const { return m_socket->state() == QLocalSocket::ConnectedState; }
    void disconnectFromServer() { m_socket->abort(); }
    void send(const QByteArray &payload)
    {
        m_socket->write(frameOf(payload));
        m_socket->flush();
    }
    void sendHello(qint64 browserPid)
    {
        send(BridgeMessages::hello(browserPid, u"firefox-esr"_qs));
    }
    void sendTabs(const QJsonArray &tabs) { send(tabsMessage(tabs)); }

    static QJsonObject tab(qint64 id, const QString &title)
    {
        return {{u"id"_qs, id}, {u"windowId"_qs, 1}, {u"title"_qs, title}};
    }
    static QByteArray tabsMessage(const QJsonArray &tabs)
    {
        return QJsonDocument(QJsonObject{{u"tabs"_qs, tabs}}).toJson(QJsonDocument::Compact);
    }

    // Every frame received so far, oldest first.
    const QList<QByteArray> &received() const { return m_received; }

private:
    QLocalSocket *m_socket;
    FrameReader m_reader;
    QList<QByteArray> m_received;
};

// A program stand-in listening on the bridge's socket: one peer per connection a host made.
class BridgeListener : public QLocalServer
{
public:
    explicit BridgeListener(const QString &socketPath)
    {
        connect(this, &QLocalServer::newConnection, this, [this] {
            while (QLocalSocket *socket = nextPendingConnection())
                peers.append(new BridgePeer(socket, this));
        });
        removeServer(socketPath);
        listen(socketPath);
    }
    // The frames the nth connection brought, none while it has not come.
    QList<QByteArray> received(qsizetype connection) const
    {
        return connection < peers.size() ? peers[connection]->received() : QList<QByteArray>{};
    }

    QList<BridgePeer *> peers;
};
