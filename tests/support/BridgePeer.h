#pragma once

#include "bridge/Framing.h"

#include <QJsonArray>
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
    explicit BridgePeer(const QString &socketPath);
    explicit BridgePeer(QLocalSocket *accepted, QObject *parent = nullptr);

    bool isConnected() const { return m_socket->state() == QLocalSocket::ConnectedState; }
    void disconnectFromServer() { m_socket->abort(); }
    void send(const QByteArray &payload);
    void sendHello(qint64 browserPid, const QString &browser = QStringLiteral("firefox-esr"));
    void sendTabs(const QJsonArray &tabs) { send(tabsMessage(tabs)); }

    static QJsonObject tab(qint64 id, const QString &title, const QString &url = {});
    static QByteArray tabsMessage(const QJsonArray &tabs);

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
    explicit BridgeListener(const QString &socketPath);
    // The frames the nth connection brought, none while it has not come.
    QList<QByteArray> received(qsizetype connection) const
    {
        return connection < peers.size() ? peers[connection]->received() : QList<QByteArray>{};
    }

    QList<BridgePeer *> peers;
};
